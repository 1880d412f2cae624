/* What our Source Manager offers an application beyond DSM_Entry.
 *
 * A program keeps the Source Manager mapped for its whole life (a source's
 * thread may still be inside it), so unloading it does not end what it holds
 * for the application. An application that unloads it calls
 * DSM_ReleaseApplication first (found with dlsym; another Source Manager
 * simply lacks it): the application is forgotten as if it had closed
 * everything properly. Each source it still has open is walked back down as
 * far as the source lets it (DAT_PENDINGXFERS / MSG_ENDXFER and MSG_RESET,
 * DAT_USERINTERFACE / MSG_DISABLEDS, DAT_IDENTITY / MSG_CLOSEDS; a call that
 * does not fit the source's state just fails) and its connection dropped;
 * when no application is left, the sources are unloaded. This is what lets a
 * long-running program open the same device again after a close went wrong
 * or a source crashed.
 *
 * The sources are called without the Source Manager's lock and after its
 * books are already clean, so the caller may run this under a fault guard: a
 * source that crashes again leaves nothing behind in the Source Manager.
 *
 * DSM_SetHostForm (found with dlsym likewise) lends the sources the
 * application's windows: the Source Manager hands the function to every
 * source that exports DS_SetHostForm (see source_protocol.h), those loaded
 * already and those loaded later. NULL takes it back. */
#ifndef QUILLET_DSM_MANAGER_PROTOCOL_H
#define QUILLET_DSM_MANAGER_PROTOCOL_H

#include "dsm/source_protocol.h"
#include "orivane/twain.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Releases the application `app` (its identity as MSG_OPENDSM filled it).
 * Returns the number of sources it still had open; 0 also for an application
 * the Source Manager does not know (already closed, or never opened). */
typedef TW_UINT32 (*DSM_RELEASEAPPLICATIONPROC)(pTW_IDENTITY app);

#define DSM_RELEASEAPPLICATION_NAME "DSM_ReleaseApplication"

typedef void (*DSM_SETHOSTFORMPROC)(DS_HOSTFORMPROC form);

#define DSM_SETHOSTFORM_NAME "DSM_SetHostForm"

#ifdef __cplusplus
}
#endif

#endif
