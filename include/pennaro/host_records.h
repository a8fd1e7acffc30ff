/* Pennaro host protocol: the records the host and the effect exchange.
 *
 * This header is shared by the effect and by every host we write (the
 * stand-in host, the command-line tool, tests). It is plain C, holds no
 * logic and uses fixed-width types only, so that the layout is identical
 * on Linux x86-64 and Windows x86-64 (where `long` is 32 bits). */
#ifndef PENNARO_HOST_RECORDS_H
#define PENNARO_HOST_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A relocatable host memory block, reached through one indirection:
 * *handle is the block's current address. Lock before touching it. */
typedef void **HostHandle;

/* Opaque per-instance reference the host passes back to its callbacks. */
typedef void *HostEffectRef;

/* ---------------------------------------------------------------- images */

#define HOST_WORLD_FLAG_DEEP 0x1u /* 16 bits per channel */

/* Pixels are alpha, red, green, blue; straight colour. 8-bit channels are
 * 0..255, 16-bit channels 0..32768. Pixel (x, y) is at
 * data + y * rowBytes + x * pixelSize; rows may be padded. */
typedef struct HostWorld {
    uint32_t flags;
    void *data;
    int32_t rowBytes;
    int32_t width;
    int32_t height;
} HostWorld;

typedef struct HostPixel8 {
    uint8_t alpha, red, green, blue;
} HostPixel8;

typedef struct HostPixel16 {
    uint16_t alpha, red, green, blue;
} HostPixel16;

typedef struct HostRect {
    int32_t left, top, right, bottom;
} HostRect;

typedef struct HostRational {
    int32_t num;
    uint32_t den;
} HostRational;

/* ------------------------------------------------------------ parameters */

#define HOST_PARAM_TYPE_LAYER 0
#define HOST_PARAM_TYPE_FIXED_SLIDER 2
#define HOST_PARAM_TYPE_CHECKBOX 4
#define HOST_PARAM_TYPE_POPUP 7
#define HOST_PARAM_TYPE_NO_DATA 9
#define HOST_PARAM_TYPE_GROUP_START 13
#define HOST_PARAM_TYPE_GROUP_END 14

#define HOST_PARAM_FLAG_START_COLLAPSED 32
#define HOST_PARAM_FLAG_SUPERVISE 64

#define HOST_PARAM_UI_FLAG_CONTROL 2
#define HOST_PARAM_UI_FLAG_DISABLED 32

#define HOST_PARAM_NAME_LEN 32

typedef struct HostPopupDef {
    int32_t value; /* counts from 1 */
    int16_t numChoices;
    int16_t dephault;
    const char *choices; /* "a|b|(-|c" */
} HostPopupDef;

typedef struct HostCheckboxDef {
    int32_t value;
    int8_t dephault;
    int8_t reserved;
    int16_t reserved1;
    const char *label;
} HostCheckboxDef;

typedef struct HostSliderDef {
    int32_t value; /* 16.16 fixed */
    char valueText[32];
    char valueDesc[32];
    int32_t validMin, validMax;
    int32_t sliderMin, sliderMax;
    int32_t dephault;
    int16_t precision;
    int16_t displayFlags;
} HostSliderDef;

typedef struct HostLayerDef {
    HostWorld world; /* the layer image at the requested time */
} HostLayerDef;

typedef union HostParamValue {
    HostPopupDef popup;
    HostCheckboxDef checkbox;
    HostSliderDef slider;
    HostLayerDef layer;
} HostParamValue;

typedef struct HostParam {
    int32_t id;
    int32_t uiFlags;
    int16_t uiWidth;
    int16_t uiHeight;
    int32_t paramType;
    char name[HOST_PARAM_NAME_LEN];
    int32_t flags;
    uint32_t reserved;
    HostParamValue u;
} HostParam;

/* The custom control area registered at the end of parameter set-up. */
typedef struct HostCustomUIInfo {
    uint32_t reserved;
    uint32_t eventMask;
    uint32_t reserved2[8];
} HostCustomUIInfo;

/* ------------------------------------------------------------- utilities */

typedef struct HostUtilities {
    HostHandle (*newHandle)(uint64_t size);
    void *(*lockHandle)(HostHandle h);
    void (*unlockHandle)(HostHandle h);
    void (*disposeHandle)(HostHandle h);
    uint64_t (*getHandleSize)(HostHandle h);
    /* May replace *h; content is kept up to the old size. 0 or an error. */
    int32_t (*resizeHandle)(uint64_t newSize, HostHandle *h);
    /* "%s" inserts a text, "%ld" a signed 32-bit integer (pass int32_t).
     * The destination is a 256-character message field. */
    void (*formatText)(char *dest, const char *format, ...);
    void (*copyText)(char *dest, const char *src);
    int32_t (*disposeWorld)(HostEffectRef ref, HostWorld *world);
    int32_t (*getPixelAddress8)(HostWorld *world, void *pixelFormat, HostPixel8 **out);
    int32_t (*getPixelAddress16)(HostWorld *world, void *pixelFormat, HostPixel16 **out);
    double (*squareRoot)(double x);
} HostUtilities;

/* ------------------------------------------------------- basic suite table */

typedef struct HostBasicSuite {
    int32_t (*acquireSuite)(const char *name, int32_t version, const void **suite);
    int32_t (*releaseSuite)(const char *name, int32_t version);
} HostBasicSuite;

/* ----------------------------------------------------------- input record */

typedef struct HostInData {
    /* callbacks */
    int32_t (*checkoutParam)(HostEffectRef ref, int32_t index, int32_t time, int32_t timeStep,
                             uint32_t timeScale, HostParam *out);
    int32_t (*checkinParam)(HostEffectRef ref, HostParam *param);
    int32_t (*addParam)(HostEffectRef ref, int32_t index, HostParam *def);
    int32_t (*registerUI)(HostEffectRef ref, HostCustomUIInfo *info);
    int32_t (*progress)(HostEffectRef ref, int32_t current, int32_t total);
    int32_t (*openStringTable)(void **tableRef, int32_t flags);
    const char *(*lookupString)(void *tableRef, int32_t message, int32_t reserved1, int32_t reserved2);
    void (*closeStringTable)(void **tableRef);

    const HostUtilities *utils;
    const HostBasicSuite *basicSuite; /* may be absent */
    HostEffectRef effectRef;

    int32_t currentTime;
    int32_t timeStep;
    int32_t localTimeStep;
    uint32_t timeScale;

    int32_t width; /* layer size at full resolution */
    int32_t height;
    HostRational downsampleX;
    HostRational downsampleY;
    HostRational pixelAspect;
    int32_t originX;
    int32_t originY;

    HostHandle globalData;
    HostHandle sequenceData;
} HostInData;

/* ---------------------------------------------------------- output record */

#define HOST_MESSAGE_LEN 256

#define HOST_OUT_FLAG_KEEP_RESOURCES_OPEN 0x1u
#define HOST_OUT_FLAG_NONLOCAL_TIME 0x2u
#define HOST_OUT_FLAG_WIDE_TIME_INPUT 0x4u
#define HOST_OUT_FLAG_SEQUENCE_FLATTEN 0x10u
#define HOST_OUT_FLAG_OPTIONS_DIALOG 0x20u
#define HOST_OUT_FLAG_DISPLAY_ERROR 0x100u
#define HOST_OUT_FLAG_CUSTOM_UI 0x8000u
#define HOST_OUT_FLAG_REFRESH_UI 0x20000u
#define HOST_OUT_FLAG_OBSOLETE 0x200000u
#define HOST_OUT_FLAG_DEEP_COLOR 0x2000000u

#define HOST_OUT_FLAG2_DYNAMIC_FLAGS 0x1u

typedef struct HostOutData {
    uint32_t version;
    HostHandle globalData;
    int32_t paramCount;
    HostHandle sequenceData;
    int32_t flatSize;
    uint32_t outFlags;
    char message[HOST_MESSAGE_LEN];
    uint32_t outFlags2;
} HostOutData;

/* --------------------------------------------------------------- commands */

#define HOST_CMD_ABOUT 0
#define HOST_CMD_GLOBAL_SETUP 1
#define HOST_CMD_UNUSED_2 2
#define HOST_CMD_GLOBAL_SETDOWN 3
#define HOST_CMD_PARAMS_SETUP 4
#define HOST_CMD_SEQUENCE_SETUP 5
#define HOST_CMD_SEQUENCE_RESETUP 6
#define HOST_CMD_SEQUENCE_FLATTEN 7
#define HOST_CMD_SEQUENCE_SETDOWN 8
#define HOST_CMD_DO_DIALOG 9
#define HOST_CMD_FRAME_SETUP 10
#define HOST_CMD_RENDER 11
#define HOST_CMD_FRAME_SETDOWN 12
#define HOST_CMD_USER_CHANGED_PARAM 13
#define HOST_CMD_UPDATE_PARAMS_UI 14
#define HOST_CMD_EVENT 15
#define HOST_CMD_QUERY_DYNAMIC_FLAGS 18

/* ---------------------------------------------------------- entry points */

typedef int32_t (*HostRegisterEffectFn)(void *hostPtr, const char *nameKey, const char *matchName,
                                         const char *categoryKey, const char *entryPointName,
                                         uint32_t kind, int32_t apiVersionMajor,
                                         int32_t apiVersionMinor, int32_t reservedInfo);

typedef int32_t (*PluginDataEntryFn)(void *hostPtr, HostRegisterEffectFn callback, void *reserved1,
                                     void *reserved2);

typedef int32_t (*FilterMainFn)(int32_t command, HostInData *in, HostOutData *out,
                                HostParam *params[], HostWorld *output, void *extra);

/* -------------------------------------------------------- layout checks
 * Both sides of the library boundary rely on these shapes; fixed-width
 * types keep them the same on LP64 (Linux) and LLP64 (Windows, where
 * `long` is 32 bits). Only 64-bit hosts are supported. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#ifdef __cplusplus
#define PENNARO_STATIC_ASSERT static_assert
#else
#define PENNARO_STATIC_ASSERT _Static_assert
#endif
PENNARO_STATIC_ASSERT(sizeof(void *) == 8, "64-bit hosts only");
PENNARO_STATIC_ASSERT(sizeof(HostPixel8) == 4 && sizeof(HostPixel16) == 8, "pixel records");
PENNARO_STATIC_ASSERT(offsetof(HostPixel16, blue) == 6, "pixel channel order");
PENNARO_STATIC_ASSERT(offsetof(HostWorld, data) == 8 && offsetof(HostWorld, rowBytes) == 16 &&
                          sizeof(HostWorld) == 32,
                      "image record");
PENNARO_STATIC_ASSERT(sizeof(HostRational) == 8, "rational");
PENNARO_STATIC_ASSERT(offsetof(HostParam, name) == 16 && offsetof(HostParam, u) == 16 + HOST_PARAM_NAME_LEN + 8,
                      "parameter record");
PENNARO_STATIC_ASSERT(offsetof(HostOutData, message) == 40 && sizeof(HostOutData) == 304, "output record");
#undef PENNARO_STATIC_ASSERT
#endif

#ifdef __cplusplus
}
#endif

#endif
