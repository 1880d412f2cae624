/* The library's process-wide switches: how acquisitions behave and how each
 * page is post-processed. Setters trace; getters do not. */
#ifndef ORIVANE_TWAIN_SWITCHES_H
#define ORIVANE_TWAIN_SWITCHES_H

#ifdef __cplusplus
extern "C" {
#endif

void TWAIN_SetMultiTransfer(int flag);   /* keep the source open after a transfer */
void TWAIN_DisableParent(int flag);      /* disable the parent window while enabled */
void TWAIN_SetHideUI(int flag);          /* hide the device's own dialog */
void TWAIN_SetStopOnEmpty(int flag);     /* disable when a feeder batch ends */
void TWAIN_SetAutoNegate(int flag);
/* 0 or 1; any other value is reported urgently and leaves the switch. */
void TWAIN_SetAutoDeskew(int mode);
/* 0 or 1; otherwise ERR_BAD_PARAMETER. */
void TWAIN_SetBlankPageMode(int mode);
/* 0 < t < 1 (fraction of dark pixels); otherwise ERR_BAD_PARAMETER. */
void TWAIN_SetBlankPageThreshold(double t);
/* 0..3; otherwise ERR_BAD_PARAMETER. */
void TWAIN_SetAutoCrop(int mode);
/* 0..15 bit set, -1 means 1; otherwise ERR_BAD_PARAMETER. */
void TWAIN_SetAutoCropOptions(int options);
/* 0 or 1; otherwise ERR_BAD_PARAMETER. */
void TWAIN_SetAutoContrast(int mode);
/* Seconds before the waiting window shows (-1 never); returns the previous. */
int TWAIN_SetWaitDialogDelay(int seconds);

int TWAIN_GetMultiTransfer(void);
int TWAIN_GetDisableParent(void);
int TWAIN_GetHideUI(void);
int TWAIN_GetStopOnEmpty(void);
int TWAIN_GetAutoNegate(void);
int TWAIN_GetAutoDeskew(void);
int TWAIN_GetBlankPageMode(void);
double TWAIN_GetBlankPageThreshold(void);
int TWAIN_GetAutoCrop(void);
int TWAIN_GetAutoCropOptions(void);
int TWAIN_GetAutoContrast(void);
int TWAIN_GetWaitDialogDelay(void);

#ifdef __cplusplus
}
#endif
#endif
