/* Device settings: each is negotiated with the open source at once, or kept
 * as a deferred request until a source opens (then applied in a fixed order).
 * Results are 1 on success (also when deferred), 0 on failure (recorded). */
#ifndef ORIVANE_TWAIN_SETTINGS_H
#define ORIVANE_TWAIN_SETTINGS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int TWAIN_SetXferMech(int mech);            /* TWSX_: 0 native, 1 file, 2 memory */
int TWAIN_XferMech(void);
int TWAIN_SetXferCount(int count);
int TWAIN_NegotiateXferCount(int count);
int TWAIN_SetUnits(int units);              /* TWUN_ */
int TWAIN_SetCurrentUnits(int units);
int TWAIN_GetCurrentUnits(void);
int TWAIN_SetXResolution(double dpu);
int TWAIN_SetYResolution(double dpu);
int TWAIN_SetResolution(double dpu);
int TWAIN_SetResolutionInt(int dpu);
double TWAIN_GetXResolution(void);
double TWAIN_GetYResolution(void);
int TWAIN_SetPixelType(int type);           /* TWPT_; < 0 clears the request */
int TWAIN_GetPixelType(void);
int TWAIN_NegotiatePixelTypes(int mask);    /* bit n = TWPT_ n */
int TWAIN_SetBitDepth(int depth);
int TWAIN_GetBitDepth(void);
int TWAIN_SetCompression(int compression);  /* TWCP_ */
int TWAIN_SetLightPath(int transmissive);
int TWAIN_SetPlanarChunky(int value);
int TWAIN_SetPixelFlavor(int value);
int TWAIN_SetAutoBright(int flag);
int TWAIN_SetBrightness(double value);
int TWAIN_SetContrast(double value);        /* -32768 clears the request */
int TWAIN_SetThreshold(double value);
int TWAIN_SetGamma(double value);
int TWAIN_SetShadow(double value);
int TWAIN_SetHighlight(double value);
int TWAIN_SetIndicators(int flag);
int TWAIN_GetIndicators(void);
int TWAIN_SelectFeeder(int flag);
int TWAIN_SetAutoFeed(int flag);
int TWAIN_SetAutoScan(int flag);
int TWAIN_EnableDuplex(int flag);
int TWAIN_SetTiled(int flag);
int TWAIN_SetPaperSize(int size);           /* TWSS_ */
int TWAIN_SetRegion(double left, double top, double right, double bottom);
int TWAIN_ResetRegion(void);
int TWAIN_SetImageLayout(double left, double top, double right, double bottom);
int TWAIN_ResetImageLayout(void);
int TWAIN_SetFrame(double left, double top, double right, double bottom);

/* The open source's image layout (DG_IMAGE / DAT_IMAGELAYOUT / MSG_GET): the
 * frame's edges in the source's current units. Each output (may be null: not
 * written) receives its edge. Returns 1, or 0 when the source does not answer
 * (outputs untouched; the gate records nothing beyond its own trace). */
int TWAIN_GetImageLayout(double* left, double* top, double* right, double* bottom);
/* As TWAIN_GetImageLayout, with the layout the source returns to on reset
 * (MSG_GETDEFAULT). */
int TWAIN_GetDefaultImageLayout(double* left, double* top, double* right, double* bottom);

/* Response curves: a table maps each of the 256 input levels to an output
 * level; entry i of a table is a 32-bit value whose low byte is used.
 * Valid in state 4 only (otherwise ERR_NO_DEVICE_OPEN is recorded and 0
 * returned). Results: 1 when the source took the curve, else 0. */

/* Sends one curve: as DAT_GRAYRESPONSE when the pixel type is gray, as
 * DAT_RGBRESPONSE with the same curve on all three channels when it is RGB;
 * another pixel type records ERR_FAILURE. `levels`: 256 entries, not null
 * (null records ERR_BAD_PARAMETER). */
int TWAIN_SetGrayResponse(const int32_t* levels);
/* Sends a curve per channel (DAT_RGBRESPONSE); the pixel type must be RGB
 * (else ERR_FAILURE). `red`, `green`, `blue`: 256 entries each, not null. */
int TWAIN_SetColorResponse(const int32_t* red, const int32_t* green, const int32_t* blue);
/* Returns the source to its own gray / colour curve (MSG_RESET). */
int TWAIN_ResetGrayResponse(void);
int TWAIN_ResetColorResponse(void);

int TWAIN_IsFeederSelected(void);
int TWAIN_HasFeeder(void);
int TWAIN_ProbablyHasFlatbed(void);
int TWAIN_IsFeederLoaded(void);
int TWAIN_IsAutoFeedOn(void);
int TWAIN_IsDuplexEnabled(void);
/* 1 when the open source can tell whether paper is loaded
 * (CAP_PAPERDETECTABLE), 0 when it cannot or does not say. Below state 4 the
 * error ERR_NO_DEVICE_OPEN is reported at once (shown, then cleared) and 0
 * returned. */
int TWAIN_IsPaperDetectable(void);
/* 1 when the source delivers memory transfers as tiles (ICAP_TILES is
 * TRUE), 0 when not or unreadable. */
int TWAIN_Tiled(void);
int TWAIN_GetDuplexSupport(void);
int TWAIN_CanDoDuplex(void);
int TWAIN_IsUIControllable(void);
int TWAIN_CanDoFileXfer(void);

#ifdef __cplusplus
}
#endif
#endif
