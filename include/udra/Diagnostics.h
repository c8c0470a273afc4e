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

#ifdef __cplusplus
}
#endif

#endif
