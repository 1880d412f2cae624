/* Device settings: each is negotiated with the open source at once, or kept
 * as a deferred request until a source opens (then applied in a fixed order).
 * Results are 1 on success (also when deferred), 0 on failure (recorded). */
#ifndef ORIVANE_TWAIN_SETTINGS_H
#define ORIVANE_TWAIN_SETTINGS_H

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

int TWAIN_IsFeederSelected(void);
int TWAIN_HasFeeder(void);
int TWAIN_ProbablyHasFlatbed(void);
int TWAIN_IsFeederLoaded(void);
int TWAIN_IsAutoFeedOn(void);
int TWAIN_IsDuplexEnabled(void);
int TWAIN_GetDuplexSupport(void);
int TWAIN_CanDoDuplex(void);
int TWAIN_IsUIControllable(void);
int TWAIN_CanDoFileXfer(void);

#ifdef __cplusplus
}
#endif
#endif
