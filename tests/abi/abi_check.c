/* Calls the manager through its virtual table by slot index, in plain C. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "udra/IResourceManager.h"

typedef int32_t (*GetErrorInfoFn)(void* self, char* buffer, int32_t size);
typedef unsigned char (*ReservedFn)(void* self, int32_t a, int32_t b);
typedef int32_t (*HostValueFn)(void* self);
typedef void (*SetCallbackFn)(void* self, void* hwnd);

#define CHECK(cond)                                   \
  do {                                                \
    if (!(cond)) {                                    \
      fprintf(stderr, "check failed: %s\n", #cond);   \
      return 1;                                       \
    }                                                 \
  } while (0)

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  void* library = dlopen(argv[1], RTLD_NOW);
  CHECK(library != NULL);
  UDRA_GetResourceManagerFn get = (UDRA_GetResourceManagerFn)dlsym(library, "GetResourceManager");
  UDRA_ReleaseResourceManagerFn release = (UDRA_ReleaseResourceManagerFn)dlsym(library, "ReleaseResourceManager");
  CHECK(get && release);

  void* manager = get();
  CHECK(manager != NULL);
  CHECK(get() == manager);
  void** slots = *(void***)manager;

  char text[64];
  memset(text, 'x', sizeof text);
  CHECK(((GetErrorInfoFn)slots[17])(manager, text, (int32_t)sizeof text) == 0);
  CHECK(text[0] == '\0');
  CHECK(((ReservedFn)slots[19])(manager, 1, 2) == 0);
  CHECK(((HostValueFn)slots[21])(manager) == 0);
  CHECK(((HostValueFn)slots[22])(manager) == 0);
  ((SetCallbackFn)slots[26])(manager, (void*)0x1234);

  release(NULL);
  release((IResourceManager*)manager);
  /* Like a game, keep the library loaded until the process ends. */
  puts("abi: slots 17, 19, 21, 22 and 26 answer as expected");
  return 0;
}
