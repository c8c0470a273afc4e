/*
 * Calls a member function of the library the way code from MSVC does on
 * 32-bit Windows (__thiscall): `this` in ECX, the other arguments pushed
 * right to left, the callee removes them from the stack. Before the call the
 * four registers a callee must preserve hold known patterns (EBP included, so
 * a callee that relies on a frame pointer of its caller is caught) and the
 * stack is left only 4-byte aligned, which is all MSVC code guarantees.
 *
 *   uint32_t udra_abi_call(const void* fn, void* self, const uint32_t* args,
 *                          uint32_t count, struct UdraAbiCall* out);
 *
 * Returns EAX; `out` receives EDX, the stack pointer's change over the call
 * (0 when the callee popped exactly its arguments) and the four registers as
 * the callee left them. cdecl, callable from C.
 */
        .intel_syntax noprefix
        .text
        .globl  _udra_abi_call
        .def    _udra_abi_call; .scl 2; .type 32; .endef
_udra_abi_call:
        push    ebp
        mov     ebp, esp
        push    ebx
        push    esi
        push    edi
        mov     [frame], ebp
        mov     eax, [ebp + 8]
        mov     [target], eax
        /* 16-byte alignment minus 4 before the pushes. */
        and     esp, -16
        sub     esp, 4
        mov     [before], esp
        mov     ecx, [ebp + 20]
        mov     edx, [ebp + 16]
1:      test    ecx, ecx
        jz      2f
        push    dword ptr [edx + ecx * 4 - 4]
        dec     ecx
        jmp     1b
2:      mov     ecx, [ebp + 12]
        mov     ebx, 0x0B0B0B0B
        mov     esi, 0x05151515
        mov     edi, 0x0D1D1D1D
        mov     ebp, 0x0BADF00D
        call    dword ptr [target]
        mov     [after], esp
        mov     [result], eax
        mov     [high], edx
        mov     [kept + 0], ebx
        mov     [kept + 4], esi
        mov     [kept + 8], edi
        mov     [kept + 12], ebp
        mov     ebp, [frame]
        mov     eax, [ebp + 24]
        mov     edx, [high]
        mov     [eax + 0], edx
        mov     edx, [after]
        sub     edx, [before]
        mov     [eax + 4], edx
        mov     edx, [kept + 0]
        mov     [eax + 8], edx
        mov     edx, [kept + 4]
        mov     [eax + 12], edx
        mov     edx, [kept + 8]
        mov     [eax + 16], edx
        mov     edx, [kept + 12]
        mov     [eax + 20], edx
        mov     eax, [result]
        lea     esp, [ebp - 12]
        pop     edi
        pop     esi
        pop     ebx
        pop     ebp
        ret

        .bss
        .align  4
frame:  .space  4
target: .space  4
before: .space  4
after:  .space  4
result: .space  4
high:   .space  4
kept:   .space  16
