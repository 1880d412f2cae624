/* What our Source Manager asks of a data source beyond DS_Entry.
 *
 * A data source is a shared object named *.ds that exports DS_Entry. One file
 * may present several devices (the virtual scanner presents one per section
 * of its config file); such a source exports DS_DeviceCount,
 * DS_DeviceIdentity and DS_SelectDevice, all three. A source without them
 * presents one device: the identity it fills for DG_CONTROL / DAT_IDENTITY /
 * MSG_GET.
 *
 * Listing (when the first application opens the Source Manager):
 *   n = DS_DeviceCount();
 *   for i in 0..n-1: DS_DeviceIdentity(i, &identity)   -- TWRC_SUCCESS or the
 *                                                         device is skipped
 * The Source Manager then gives every device an Id of its own (the Id the
 * source wrote is ignored). The identity is received into an area with room
 * behind it (DS_IDENTITY_TAIL_BYTES), so that a careless driver writing past
 * the 156-byte TW_IDENTITY (a product name too long for its field) writes
 * into the Source Manager's own memory. Those bytes never leave it:
 * applications get exactly 156 bytes, the product name then filling its 34
 * bytes without a terminator (which is how an application can tell).
 *
 * Opening: right before DG_CONTROL / DAT_IDENTITY / MSG_OPENDS the Source
 * Manager calls DS_SelectDevice(i) with the listed index of the device to
 * open; the source opens that device and keeps the identity (with the Source
 * Manager's Id) that MSG_OPENDS passes in. Before that, a source whose
 * SupportedGroups holds DF_DS2 receives DG_CONTROL / DAT_ENTRYPOINT / MSG_SET
 * with the Source Manager's entry points (DSM_Entry for notifications, and the
 * memory functions every container and image handle must be made with).
 *
 * Events: DS_ProtocolFlags (optional) answers DS_PROTOCOL_PROCESSEVENT when the
 * source answers DG_CONTROL / DAT_EVENT / MSG_PROCESSEVENT itself. For other
 * sources the Source Manager answers it from the notifications (MSG_XFERREADY,
 * MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT) it relayed for them, oldest
 * first, and never passes DAT_EVENT on.
 *
 * Default source: without a remembered choice the default is the first device
 * listed, passing over the devices of sources whose DS_ProtocolFlags holds
 * DS_PROTOCOL_NOT_DEFAULT (the SANE bridge: a machine's real scanners do not
 * take the place of the virtual scanner unless the user chooses one with
 * /SS); when every device is of such a source, the first one.
 *
 * Listing on demand: a source whose DS_ProtocolFlags holds
 * DS_PROTOCOL_LIST_ON_DEMAND (and that exports the three device functions)
 * is loaded with the others but not asked for its devices until someone
 * needs a device the others do not have: the walk of the list
 * (MSG_GETFIRST / MSG_GETNEXT) reaching its end, MSG_USERSELECT, an
 * MSG_OPENDS by a product name no listed device has, or a default source
 * not listed yet (a remembered one, or none that may be the default). Its
 * devices are then listed after the others. Listing them can be slow (the
 * SANE bridge starts every backend of the machine's SANE configuration,
 * which probe buses and the network); a run that opens the default source
 * never pays for it.
 *
 * Windows: a source has no toolkit of its own to show its dialog (ShowUI)
 * with; the application may lend it one. A source that exports
 * DS_SetHostForm receives, right after it is loaded (and again whenever the
 * application changes it), the function that shows a form in the
 * application's windows, or NULL when there is none. The source calls it on
 * the application's thread, inside the DS_Entry call that enables it, and
 * does what the person at the device would do when it answers
 * DS_FORM_NO_ONE_TO_ASK. */
#ifndef QUILLET_DSM_SOURCE_PROTOCOL_H
#define QUILLET_DSM_SOURCE_PROTOCOL_H

#include "orivane/twain.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Room past a TW_IDENTITY the Source Manager gives a source that writes its
 * identity (see above). */
#define DS_IDENTITY_TAIL_BYTES 32

/* DS_ProtocolFlags bits */
#define DS_PROTOCOL_PROCESSEVENT 0x0001u
#define DS_PROTOCOL_NOT_DEFAULT 0x0002u
#define DS_PROTOCOL_LIST_ON_DEMAND 0x0004u

/* Number of devices the source presents now (it may read its configuration
 * here). */
typedef TW_UINT32 (*DS_DEVICECOUNTPROC)(void);
/* Fills the identity of device `index` (0-based). TWRC_SUCCESS, or
 * TWRC_FAILURE for an index out of range. */
typedef TW_UINT16 (*DS_DEVICEIDENTITYPROC)(TW_UINT32 index, pTW_IDENTITY out_identity);
/* Chooses the device the next MSG_OPENDS opens. TWRC_SUCCESS, or TWRC_FAILURE
 * for an index out of range. */
typedef TW_UINT16 (*DS_SELECTDEVICEPROC)(TW_UINT32 index);
/* DS_PROTOCOL_ bits. */
typedef TW_UINT32 (*DS_PROTOCOLFLAGSPROC)(void);

/* One row of a form: a label and its choices ('&' marks a choice's key);
 * `chosen` indexes the one selected, and receives the person's choice. */
typedef struct DS_FORM_FIELD {
  const char* label;
  const char* const* choices;
  TW_UINT32 choice_count;
  TW_UINT32 chosen;
} DS_FORM_FIELD;

/* A source's dialog: caption, a line of text, the rows, and the label of the
 * accepting button ("Scan", "OK"); Cancel is always there. */
typedef struct DS_FORM {
  const char* caption;
  const char* text;
  const char* accept_label;
  DS_FORM_FIELD* fields;
  TW_UINT32 field_count;
} DS_FORM;

#define DS_FORM_ACCEPTED 1
#define DS_FORM_CANCELLED 0
#define DS_FORM_NO_ONE_TO_ASK (-1)

/* Shows `form` and waits: DS_FORM_ACCEPTED (the fields' `chosen` filled),
 * DS_FORM_CANCELLED or DS_FORM_NO_ONE_TO_ASK. */
typedef int (*DS_HOSTFORMPROC)(DS_FORM* form);
/* Gives the source the application's form function (NULL: none). */
typedef void (*DS_SETHOSTFORMPROC)(DS_HOSTFORMPROC form);

#define DS_ENTRY_NAME "DS_Entry"
#define DS_DEVICECOUNT_NAME "DS_DeviceCount"
#define DS_DEVICEIDENTITY_NAME "DS_DeviceIdentity"
#define DS_SELECTDEVICE_NAME "DS_SelectDevice"
#define DS_PROTOCOLFLAGS_NAME "DS_ProtocolFlags"
#define DS_SETHOSTFORM_NAME "DS_SetHostForm"

#ifdef __cplusplus
}
#endif

#endif
