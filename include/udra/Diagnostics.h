/*
 * What a manager was built from, for tools (libUDRAClient.so only; the
 * Windows DLL exports nothing but the two entry points).
 */
#ifndef UDRA_DIAGNOSTICS_H
#define UDRA_DIAGNOSTICS_H

#include "udra/IResourceManager.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct UDRAManagerInfo {
  char version[100];      /* "UDRA v%hu.%hu.%hu.%hu" of the host executable */
  char uin[100];          /* the user id ("NOT SET UIN" until SetUin) */
  char clientGuid[40];    /* the client GUID in registry form */
  char versionSection[260];
  char fileListPath[260]; /* the configured file list, "" for "FileList.dat" */
  char moduleFolder[260];
  char downloadUrlRoot[260]; /* the configured URL root of this version */
} UDRAManagerInfo;

/* Fills `info` for a manager from GetResourceManager; 0 on success. */
int udra_get_manager_info(IResourceManager* manager, UDRAManagerInfo* info);
typedef int (*UDRA_GetManagerInfoFn)(IResourceManager*, UDRAManagerInfo*);

/* Loads the archive store and the catalogue of the installation without
 * starting the host, so that files already in the store can be read: what
 * Initialize does for reading. 0 on success. */
int udra_attach_store_and_catalogue(IResourceManager* manager, uint32_t cacheLimit);
typedef int (*UDRA_AttachFn)(IResourceManager*, uint32_t);

/* What udra_verify_store found wrong with one store entry. */
typedef struct UDRAVerifyFinding {
  const char* kind;   /* "stale" (another content version), "damaged" (bytes or
                         decoded files not as catalogued), "broken" (bytes that
                         cannot be read, such as a lost large-entry file) or
                         "unnamed" (no catalogue entry names it) */
  const char* name;   /* the entry's name in the store */
  const char* detail; /* what was found, for a person */
  int repaired;       /* 1 when the entry was removed */
} UDRAVerifyFinding;

typedef struct UDRAVerifySummary {
  uint32_t entries;  /* store entries checked */
  uint32_t verified; /* of those, found good */
  uint32_t missing;  /* download names in scope the store does not hold */
  uint32_t problems;
  uint32_t repaired;
} UDRAVerifySummary;

typedef void (*UDRAVerifyFindingFn)(void* context, const UDRAVerifyFinding* finding);
typedef void (*UDRAVerifyProgressFn)(void* context, uint32_t done, uint32_t total);

/* Checks the store against the catalogue of a manager that was not
 * initialised: the entries of the catalogued `paths` (files or folders), or
 * every entry when `pathCount` is 0. With `repair` non-zero the entries found
 * wanting are removed, so that the next sync fetches them. Findings are
 * reported after the check, progress during it (either callback may be
 * null). 0 when the check ran, -1 when the store or catalogue could not be
 * loaded, -2 when the store does not record digests. */
int udra_verify_store(IResourceManager* manager, const char* const* paths, uint32_t pathCount, int repair,
                      UDRAVerifyFindingFn finding, UDRAVerifyProgressFn progress, void* context,
                      UDRAVerifySummary* summary);
typedef int (*UDRA_VerifyStoreFn)(IResourceManager*, const char* const*, uint32_t, int, UDRAVerifyFindingFn,
                                  UDRAVerifyProgressFn, void*, UDRAVerifySummary*);

#ifdef __cplusplus
}
#endif

#endif
