/* The TWAIN session: application identity, states and shutting down. */
#ifndef ORIVANE_TWAIN_SESSION_H
#define ORIVANE_TWAIN_SESSION_H

#ifdef __cplusplus
extern "C" {
#endif

/* Library attach and detach: the first call of a process and its last. */
void ORIVANE_Attach(void);
void ORIVANE_Detach(void);
/* Product and version texts for the log header (default "Orivane (x86)" and
 * empty). Set before the log is opened. */
void ORIVANE_SetProductInfo(const char* product, const char* version);

/* Registers the application identity sent with every TWAIN call; the product
 * name also becomes the application title (message-box caption). */
void TWAIN_RegisterApp(int major, int minor, int language, int country, const char* version_info,
                       const char* manufacturer, const char* family, const char* product);
/* Sets the application title (at most 199 characters). A second, different
 * title after one was set is reported as an urgent error, then taken. */
void TWAIN_SetAppTitle(const char* title);
/* 1 if the Source Manager can be loaded. */
int TWAIN_IsAvailable(void);
/* Current TWAIN state, 1 (pre-session) to 7 (transferring). */
int TWAIN_State(void);
/* Closes the open source (from any state above 3); 1 if state < 4 after. */
int TWAIN_CloseSource(void);
/* Disables an enabled source; 1 if state < 5 after. */
int TWAIN_DisableSource(void);
/* Closes everything and unloads the Source Manager; 1 if state is 1 after. */
int TWAIN_UnloadSourceManager(void);
/* Restores the library's process-wide state; then everything is closed. */
void TWAIN_ResetAll(void);
void TWAIN_Shutdown(void);

#ifdef __cplusplus
}
#endif
#endif
