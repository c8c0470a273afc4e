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

/* Why a sync ended the way it did, for a person. */
typedef struct UDRASyncFailure {
  int32_t state;    /* the sync's UDRA_SYNC_* state */
  uint32_t code;    /* the host's error code (libcurl's result code; 22: an HTTP error) */
  uint32_t kind;    /* the host's error kind (0 network or server, 1 size, MD5 or request,
                       2 the store, 3 the host is shutting down) */
  char name[256];   /* the download name that failed */
  char text[512];   /* the host's account: reason, HTTP status, expected and received
                       size or MD5, URL; "" when the sync did not fail */
} UDRASyncFailure;

/* Fills `out` for a sync id this manager handed out; 0 on success, -1 for
 * an unknown id. */
int udra_get_sync_failure(IResourceManager* manager, int32_t syncId, UDRASyncFailure* out);
typedef int (*UDRA_GetSyncFailureFn)(IResourceManager*, int32_t, UDRASyncFailure*);

/* The catalogue's own spelling of `path` (any letter case, / or \\ as
 * separators), cut to `outSize` - 1 bytes; 0 when the path is catalogued,
 * -1 when not. Call it on the thread that called Initialize. */
int udra_catalogue_key(IResourceManager* manager, const char* path, char* out, uint32_t outSize);
typedef int (*UDRA_CatalogueKeyFn)(IResourceManager*, const char*, char*, uint32_t);

/* Calls `visit` with every catalogue key that lies in no folder (the
 * catalogue's top level), in key order; returns how many. */
typedef void (*UDRACatalogueKeyFn)(void* context, const char* key);
int udra_catalogue_top_level(IResourceManager* manager, UDRACatalogueKeyFn visit, void* context);
typedef int (*UDRA_CatalogueTopLevelFn)(IResourceManager*, UDRACatalogueKeyFn, void*);

/* Calls `visit` with each name of the pre-download list, in order: the
 * user's list named by UIOptions.ini, or when that yields none the
 * version's PreDownloadPackage keys of UDRAConfig.ini, as read when the
 * manager was made; returns how many. The library itself fetches none of
 * them; `udra predownload` syncs them. */
int udra_predownload_list(IResourceManager* manager, UDRACatalogueKeyFn visit, void* context);
typedef int (*UDRA_PredownloadListFn)(IResourceManager*, UDRACatalogueKeyFn, void*);

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
