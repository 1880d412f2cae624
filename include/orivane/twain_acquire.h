/* Acquiring images: preparing and enabling the source, the message pump and
 * the wait for a transfer, native, file and memory transfers, and tidying up
 * afterwards. Windows are window handles of the platform layer (0 = none:
 * a hidden proxy window stands in). DIB handles returned here belong to the
 * caller (free them with DIB_Free or TWAIN_FreeNative). */
#ifndef ORIVANE_TWAIN_ACQUIRE_H
#define ORIVANE_TWAIN_ACQUIRE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A memory-transfer handler: called in state 6 with its user value; answers
 * non-zero when the image was transferred. */
typedef int (*TWAIN_MEMORY_CALLBACK)(intptr_t value);

/* --- One acquisition, step by step ------------------------------------ */
/* Opens the Source Manager and the default source if needed and negotiates
 * the settings; 1 if a source is open. */
int TWAIN_PreAcquire(uintptr_t window);
/* Enables the source (state 5), showing its own dialog unless hide-UI is
 * on; 1 if the state is 5 or more. */
int TWAIN_EnableSource(uintptr_t window);
/* Enables the source for its settings dialog only; 1 if state >= 5. */
int TWAIN_EnableSourceUiOnly(uintptr_t window);
/* Shows the source's settings dialog and waits for it to close: 1 OK,
 * 0 cancelled, -1 the dialog could not be shown. */
int TWAIN_DoSettingsDialog(uintptr_t window);
/* Waits until the source is ready to transfer (state 6) or goes back. */
void TWAIN_WaitForXfer(uintptr_t window);
/* Waits for the next image and transfers it by the current mechanism;
 * answers the DIB (null for file transfers or on failure). */
uintptr_t TWAIN_WaitForNativeXfer(uintptr_t window);
/* 1 when the source is ready to transfer (state 6); the caller transfers. */
int TWAIN_WaitForImage(uintptr_t window);
/* Tidies up after an acquisition: closes the source (without multi-
 * transfer) and restores the working directory. */
void TWAIN_PostAcquire(void);

/* --- Whole acquisitions ------------------------------------------------ */
/* Acquires one image by native transfer; `pixel_types` is a mask of TWPT_
 * bits (0 = keep the current type). */
uintptr_t TWAIN_AcquireNative(uintptr_t window, unsigned pixel_types);
uintptr_t TWAIN_Acquire(uintptr_t window);
/* Acquires and puts the image on the clipboard; 1 on success. */
int TWAIN_AcquireToClipboard(uintptr_t window, unsigned pixel_types);
/* Acquires and writes the image to a file (format from its extension):
 * the write's result, -10 for a failed write, -1 without an image. */
int TWAIN_AcquireToFilename(uintptr_t window, const char* file_name);
/* Acquires by file transfer into `file_name` (empty: asks for a name) in the
 * TWFF_ `format` (99: PDF); 1 if the source wrote the file. */
int TWAIN_AcquireFile(uintptr_t window, int format, const char* file_name);
/* Acquires by memory transfer through `callback`; answers its result. */
int TWAIN_AcquireMemoryCallback(uintptr_t window, TWAIN_MEMORY_CALLBACK callback,
                                intptr_t value);
/* Acquires by buffered memory transfer, assembled into one DIB. */
uintptr_t TWAIN_AcquireMemory(uintptr_t window);
/* As TWAIN_AcquireMemory; with a transfer compression the DIB holds the
 * compressed stream as the device sent it. */
uintptr_t TWAIN_AcquireCompressed(uintptr_t window);

/* --- Application-driven memory blocks ----------------------------------- */
int TWAIN_BeginAcquireMemory(uintptr_t window, int rows);
/* The next block as a DIB of the image's width and the block's rows, or 0. */
uintptr_t TWAIN_AcquireMemoryBlock(void);
int TWAIN_EndAcquireMemory(void);

/* --- Messages ----------------------------------------------------------- */
/* Runs the message pump once: mode 2 accepts every notification, mode 1
 * stops after 20 messages and ignores transfer-ready, mode 0 also ignores
 * close requests. */
void TWAIN_PumpMessages(int mode);
/* Processes the messages waiting (idle time), stopping after a TWAIN
 * notification. */
void TWAIN_EmptyMessageQueue(void);
/* Dispatches every waiting message without showing it to the source. */
void TWAIN_FlushMessageQueue(void);
/* Ends the current wait. */
void TWAIN_BreakModalLoop(void);
/* 1 when the source asked to be closed since it was last enabled. */
int TWAIN_CloseRequested(void);
/* For applications with their own message loop: shows one message to the
 * source; 1 if the source consumed it. `message` points to a platform
 * message record. */
int TWAIN_MessageHook(const void* message);

/* --- Documents of several pages --------------------------------------- */
/* Asks whether to scan more pages (in the user's language): 1 to continue,
 * 0 to stop. */
int TWAIN_PromptToContinue(uintptr_t window);
/* The default button of that question: 1 Yes (initial), 0 No; answers the
 * previous setting. */
int TWAIN_SetDefaultScanAotherPagePrompt(int answer);

/* --- Odds and ends ---------------------------------------------------- */
void TWAIN_FreeNative(uintptr_t dib);
/* Seconds after which the waiting window appears (-1 never); answers the
 * previous value. */
int TWAIN_SetWaitDialogDelay(int seconds);
/* Presses the scan button of a source dialog that needs one: the button
 * with this caption (null or empty: the usual captions). */
void TWAIN_AutoClickButton(const char* caption);

#ifdef __cplusplus
}
#endif
#endif
