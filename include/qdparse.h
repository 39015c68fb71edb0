/*
 * qdparse: reads, describes and rewrites the files that a family of
 * digital still cameras writes: RAW heap files, JPEG (JFIF, Exif, ICC, IIM, a heap
 * in APP0), TIFF (TIFF RAW with an embedded heap, TIFF with an Exif IFD) and
 * WAVE sound memos.
 *
 * The library never opens a file. Every byte it reads or writes goes through
 * the host's stream callbacks (qdlStream) or through caller memory. It keeps
 * no state between calls, creates no threads and takes no locks; calls on
 * different streams may run on different threads, but one qdlStream must not
 * be used by two calls at once.
 *
 * Every export returns a 32-bit result code: QD_OK, one of the QD_E_ codes
 * below, or a nonzero error value that a host callback stored and that is
 * handed back unchanged. Treat any nonzero value as failure.
 *
 * Buffers the library hands out are library memory blocks. Release them only
 * through the matching release function (qdParseFreeHeapObject,
 * qdParseFreeExifBuffer, qdParseFreeOutPutInfo, qdParseFreeApp1Info,
 * qdParseFreeMakerNoteBuffer).
 *
 * Compiles as C99 and as C++. Every record that crosses the boundary is packed
 * (1-byte alignment); a record without pointers has the same size on every
 * target, a record with pointers has its documented size on 32-bit targets and
 * wider pointer fields elsewhere.
 */
#ifndef QDPARSE_H
#define QDPARSE_H

#include <stddef.h>
#include <stdint.h>

/* ---- Version ------------------------------------------------------------ */

/* The version of this header and of the library built with it; the build
 * takes its project, package and shared-library versions from these lines. */
#define QDPARSE_VERSION_MAJOR 1
#define QDPARSE_VERSION_MINOR 0
#define QDPARSE_VERSION_PATCH 0
#define QD_VERSION_TEXT_(x) #x
#define QD_VERSION_TEXT(x) QD_VERSION_TEXT_(x)
/* "1.0.0" */
#define QDPARSE_VERSION_STRING                                                    \
    QD_VERSION_TEXT(QDPARSE_VERSION_MAJOR) "." QD_VERSION_TEXT(QDPARSE_VERSION_MINOR) "." \
    QD_VERSION_TEXT(QDPARSE_VERSION_PATCH)

/* ---- Calling convention and visibility --------------------------------- */

/* Exports and host callbacks use stdcall on 32-bit x86, the platform default
 * elsewhere. Host callbacks must be declared with QD_CALLBACK. */
#if defined(_M_IX86) || defined(__i386__)
#  if defined(_MSC_VER)
#    define QD_CALLCONV __stdcall
#  else
#    define QD_CALLCONV __attribute__((stdcall))
#  endif
#else
#  define QD_CALLCONV
#endif
#define QD_API QD_CALLCONV
#define QD_CALLBACK QD_CALLCONV

#if defined(_WIN32)
#  if defined(QDPARSE_BUILDING)
#    define QD_EXPORT __declspec(dllexport)
#  elif defined(QDPARSE_STATIC)
#    define QD_EXPORT
#  else
#    define QD_EXPORT __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define QD_EXPORT __attribute__((visibility("default")))
#else
#  define QD_EXPORT
#endif

/* Layout checks that hold in C99 (no _Static_assert) as well as C11 and C++. */
#if defined(__cplusplus)
#  define QD_LAYOUT_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define QD_LAYOUT_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#  define QD_LAYOUT_ASSERT(cond, name) typedef char qd_layout_##name[(cond) ? 1 : -1]
#endif

/* Nonzero where pointers are 32 bits wide: records with pointer fields have
 * their documented size only there. */
#if UINTPTR_MAX == 0xFFFFFFFFu
#  define QD_PTR32 1
#else
#  define QD_PTR32 0
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */

#define QD_OK                 0x00000000u
#define QD_E_FAILED           0x04000002u /* any failure without a code of its own */
#define QD_E_NO_MEMORY        0x04000003u
#define QD_E_BLOCK_CHECK      0x04000004u /* a released block failed its ownership check */
#define QD_E_OTHER_MAKER      0x04000007u /* Exif Make is not the camera maker's name */
#define QD_E_RESERVED_2A      0x0400002Au
#define QD_E_UNSUPPORTED      0x0400002Cu /* not a format this call handles */
#define QD_E_CORRUPT          0x0400002Du /* inconsistent structure */
#define QD_E_NOT_APPLICABLE   0x04000050u /* wrong file kind, model or property identifier */
#define QD_E_OUT_OF_RANGE     0x04000051u /* a referenced block runs past its container */
#define QD_E_INVALID_ARG      0x04000060u /* a required argument or callback is missing */
#define QD_E_SIZE_MISMATCH    0x04000065u /* new data does not fit the space it replaces */
#define QD_E_SHORT_READ       0x040000A7u /* a host read delivered 0 or more bytes than asked */
#define QD_E_SHORT_WRITE      0x040000A8u /* a host write took 0 or more bytes than offered */

/* ---- Host streams ------------------------------------------------------ */

/* Modes passed to qdlStream.open. */
#define QD_OPEN_READ   1u /* the stream is only read */
#define QD_OPEN_UPDATE 2u /* read and written in place; its length never changes */
#define QD_OPEN_WRITE  3u /* the stream is only written */

/* Origins passed to qdlStream.seek. */
#define QD_SEEK_START   1u
#define QD_SEEK_CURRENT 2u
#define QD_SEEK_END     3u

/*
 * The callback contract. Every callback gets the stream's context first and
 * an error out-argument last. On success it must store 0 there; on failure
 * any nonzero value, which the library may hand back to the caller as it is.
 * The library passes error variables that are not cleared beforehand, so a
 * callback that leaves the value untouched has failed.
 *
 * read/write: *count holds the number of bytes wanted on entry and the number
 *   transferred on return. A count of 0, or one larger than asked, is treated
 *   as a failed transfer (QD_E_SHORT_READ / QD_E_SHORT_WRITE) where the call
 *   needs every byte; a smaller nonzero count is a partial transfer and the
 *   library asks again for the rest.
 * seek: with QD_SEEK_START the offset is a position from 0 to 2^32 - 1 passed
 *   as its 32-bit pattern; with the other origins it is a signed distance.
 * tell: returns the current position. It is the only callback whose return
 *   value is used; the others' return values are ignored.
 * open/close/aux may be null unless an export below says it needs them; read,
 *   seek and tell are required by every export that reads a stream, write by
 *   every export that writes one.
 * aux is forwarded but never called by the library.
 */
typedef uint32_t (QD_CALLBACK *qdlOpenProc)(void *context, uint32_t mode, uint32_t *error);
typedef uint32_t (QD_CALLBACK *qdlCloseProc)(void *context, uint32_t *error);
typedef uint32_t (QD_CALLBACK *qdlReadProc)(void *context, void *buffer, uint32_t *count,
                                            uint32_t *error);
typedef uint32_t (QD_CALLBACK *qdlWriteProc)(void *context, const void *buffer, uint32_t *count,
                                             uint32_t *error);
typedef uint32_t (QD_CALLBACK *qdlSeekProc)(void *context, uint32_t origin, int32_t offset,
                                            uint32_t *error);
typedef uint32_t (QD_CALLBACK *qdlTellProc)(void *context, uint32_t *error);
typedef uint32_t (QD_CALLBACK *qdlAuxProc)(void *context, uint32_t value, uint32_t *error);

#pragma pack(push, 1)

typedef struct qdlStream {
    void *context;  /* passed to every callback */
    void *reserved; /* never read by the library */
    qdlOpenProc open;
    qdlCloseProc close;
    qdlReadProc read;
    qdlWriteProc write;
    qdlSeekProc seek;
    qdlTellProc tell;
    qdlAuxProc aux;
} qdlStream;

#pragma pack(pop)

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(qdlStream) == 36, qdlStream_size);
QD_LAYOUT_ASSERT(offsetof(qdlStream, open) == 8, qdlStream_open);
QD_LAYOUT_ASSERT(offsetof(qdlStream, tell) == 28, qdlStream_tell);
QD_LAYOUT_ASSERT(offsetof(qdlStream, aux) == 32, qdlStream_aux);
#endif

/* ---- Version ----------------------------------------------------------- */

/* Stores the newest identifier this library supports (273) in *id. */
QD_EXPORT uint32_t QD_API QDParseGetRttIDLatest(uint16_t *id);

/* ---- Records ----------------------------------------------------------- */

/*
 * Conventions for every record below: packed, fields in the host's byte
 * order unless a comment says otherwise; a byte-order flag is one byte,
 * 0 for "II" (little-endian) and 1 for "MM" (big-endian). Pointer fields are
 * pointer-sized; every other field has the same width on every target.
 */

QD_LAYOUT_ASSERT(sizeof(float) == 4, float_is_32_bits);

#pragma pack(push, 1)

/* A heap that holds a picture's properties, passed by value. Only `block`
 * (a library memory block) is ever released, by qdParseFreeHeapObject;
 * copies of a descriptor share that block, so release exactly one of them. */
typedef struct HeapObject {
    uint8_t *block;        /* library block holding header and heap */
    uint32_t headerLength; /* heap-file header in front of the heap; 0 for a bare heap */
    uint32_t version;      /* the heap-file header's version word */
    char type[5];          /* "CCDR", "JPGM" or "TIFP" and a zero byte */
    uint8_t *heap;         /* block + headerLength */
    uint32_t heapLength;
    uint16_t bigEndian;    /* 1 when the heap's numbers are big-endian */
} HeapObject;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(HeapObject) == 27, HeapObject_size);
QD_LAYOUT_ASSERT(offsetof(HeapObject, block) == 0, HeapObject_block);
QD_LAYOUT_ASSERT(offsetof(HeapObject, headerLength) == 4, HeapObject_headerLength);
QD_LAYOUT_ASSERT(offsetof(HeapObject, version) == 8, HeapObject_version);
QD_LAYOUT_ASSERT(offsetof(HeapObject, type) == 12, HeapObject_type);
QD_LAYOUT_ASSERT(offsetof(HeapObject, heap) == 17, HeapObject_heap);
QD_LAYOUT_ASSERT(offsetof(HeapObject, heapLength) == 21, HeapObject_heapLength);
QD_LAYOUT_ASSERT(offsetof(HeapObject, bigEndian) == 25, HeapObject_bigEndian);
#endif

/*
 * One entry of a record entry list: consecutive entries ended by one of type
 * 0. An entry whose type is a nested-heap kind ((type & 0x3800) is 0x2800 or
 * 0x3000) is followed by the entries for inside that heap and their own
 * type-0 terminator, to any depth. Records match on (type & 0x3FFF).
 * A data entry is requested by setting `found`; one with found 0 is left
 * untouched, and one whose record is absent gets found 0.
 * qdParseHeapObject copies into `pointer` (a buffer of `size` bytes), or with
 * size 0 stores a library block of the data in the void* that `pointer`
 * addresses (release it with qdParseFreeApp1Info through an ExtensionInfo);
 * `size` returns the bytes delivered. _GetHeapRecordEntryPtr sets `pointer`
 * and `size` to where the data lies inside the heap. For a merge, entries
 * with found 1 carry the new data in `pointer` and `size`.
 */
typedef struct RecordEntry {
    uint16_t type;
    uint16_t found;
    void *pointer;
    uint32_t size;
} RecordEntry;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(RecordEntry) == 12, RecordEntry_size);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, type) == 0, RecordEntry_type);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, found) == 2, RecordEntry_found);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, pointer) == 4, RecordEntry_pointer);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, size) == 8, RecordEntry_size_field);
#endif

/* Operations of an IFD query list (IfdQuery.op). */
#define IFDQ_END      0u /* end of the list */
#define IFDQ_READ     1u /* copy the value of `tag` in the current IFD */
#define IFDQ_LOCATE   2u /* report type, count and value field of `tag` */
#define IFDQ_NEXT_IFD 3u /* move to the next IFD of the chain */
#define IFDQ_ENTER    4u /* descend into the sub-IFD that `tag` points to */
#define IFDQ_LEAVE    5u /* close the scope of the matching IFDQ_ENTER */
#define IFDQ_PLACEHOLDER 0xFFFFu /* qdParseCreateExifProperty only: passed over */

/*
 * One request of an IFD query list, ended by IFDQ_END; every IFDQ_ENTER must
 * be closed by an IFDQ_LEAVE. The list is the caller's; the library fills the
 * answers into it.
 * IFDQ_READ: `type` is the type the entry must have. With `size` > 0, `data`
 * is the address of a buffer of `size` bytes; with `size` 0, `data` is the
 * address of a void* that receives a library block (release it with
 * qdParseFreeApp1Info through an ExtensionInfo). `size` returns the bytes stored.
 * IFDQ_LOCATE: `data` receives the entry's raw value-or-offset field, `size`
 * its count. When building (qdParseCreateExifProperty) `data` carries values
 * instead; see that function.
 */
typedef struct IfdQuery {
    uint16_t op;       /* IFDQ_... */
    uint16_t tag;      /* in host order */
    uint16_t type;     /* TIFF field type; set to the entry's type when found */
    uint16_t found;    /* 1 when the request was satisfied */
    uintptr_t data;    /* an address or a 32-bit value, by operation */
    uint32_t size;
    uint32_t position; /* internal use of the stream walkers */
} IfdQuery;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(IfdQuery) == 20, IfdQuery_size);
QD_LAYOUT_ASSERT(offsetof(IfdQuery, op) == 0, IfdQuery_op);
QD_LAYOUT_ASSERT(offsetof(IfdQuery, tag) == 2, IfdQuery_tag);
QD_LAYOUT_ASSERT(offsetof(IfdQuery, type) == 4, IfdQuery_type);
QD_LAYOUT_ASSERT(offsetof(IfdQuery, found) == 6, IfdQuery_found);
QD_LAYOUT_ASSERT(offsetof(IfdQuery, data) == 8, IfdQuery_data);
QD_LAYOUT_ASSERT(offsetof(IfdQuery, size) == 12, IfdQuery_size_field);
QD_LAYOUT_ASSERT(offsetof(IfdQuery, position) == 16, IfdQuery_position);
#endif

/*
 * A TIFF structure held in memory: an Exif property buffer, or the Exif data
 * of a file. When the library filled it, `segment` is a library block that
 * qdParseFreeExifBuffer releases. `ifdOffset` 0 means not yet known: the
 * first query reads the TIFF header and stores IFD0's offset and the byte
 * order here. Queries stay inside `tiff` and `tiffSize`, which are trusted:
 * they are not checked against the memory behind them.
 */
typedef struct TiffBlockInfo {
    uint8_t *segment;        /* whole segment payload ("Exif\0\0" or "LoLe\0\0" first) */
    uintptr_t segmentOffset; /* file position of the segment's 0xFF byte, or 0 */
    uint8_t *tiff;           /* first byte of the TIFF header */
    uint32_t tiffSize;       /* bytes available from `tiff` on */
    uint8_t byteOrder;       /* 0 "II", 1 "MM" */
    uint32_t ifdOffset;      /* IFD that queries start from, from `tiff`; 0 = unknown */
} TiffBlockInfo;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(TiffBlockInfo) == 21, TiffBlockInfo_size);
QD_LAYOUT_ASSERT(offsetof(TiffBlockInfo, segment) == 0, TiffBlockInfo_segment);
QD_LAYOUT_ASSERT(offsetof(TiffBlockInfo, segmentOffset) == 4, TiffBlockInfo_segmentOffset);
QD_LAYOUT_ASSERT(offsetof(TiffBlockInfo, tiff) == 8, TiffBlockInfo_tiff);
QD_LAYOUT_ASSERT(offsetof(TiffBlockInfo, tiffSize) == 12, TiffBlockInfo_tiffSize);
QD_LAYOUT_ASSERT(offsetof(TiffBlockInfo, byteOrder) == 16, TiffBlockInfo_byteOrder);
QD_LAYOUT_ASSERT(offsetof(TiffBlockInfo, ifdOffset) == 17, TiffBlockInfo_ifdOffset);
#endif

/* The first JPEG frame header (SOF) of a file; all zero when none was found.
 * The reserved bytes keep the 32-bit field at offset 4. */
typedef struct JpegSofInfo {
    uint8_t found;        /* 1 when filled */
    uint8_t reserved1[3];
    uint32_t position;    /* stream position of the segment's length field */
    uint16_t length;      /* the segment's length field */
    uint16_t components;
    uint16_t width;
    uint16_t height;
} JpegSofInfo;

QD_LAYOUT_ASSERT(sizeof(JpegSofInfo) == 16, JpegSofInfo_size);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, found) == 0, JpegSofInfo_found);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, position) == 4, JpegSofInfo_position);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, length) == 8, JpegSofInfo_length);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, components) == 10, JpegSofInfo_components);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, width) == 12, JpegSofInfo_width);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, height) == 14, JpegSofInfo_height);

/* A JFIF APP0 header; the library clears and fills only the first 18 bytes. */
typedef struct JfifInfo {
    uint8_t found;        /* 1 when filled */
    uint8_t reserved1[3];
    uint32_t position;    /* stream position of the segment's length field */
    uint16_t length;      /* the segment's length field */
    uint16_t version;     /* major * 256 + minor */
    uint16_t units;
    uint16_t xDensity;
    uint16_t yDensity;
    uint8_t reserved2[2]; /* never written by the library */
} JfifInfo;

QD_LAYOUT_ASSERT(sizeof(JfifInfo) == 20, JfifInfo_size);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, found) == 0, JfifInfo_found);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, position) == 4, JfifInfo_position);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, length) == 8, JfifInfo_length);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, version) == 10, JfifInfo_version);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, units) == 12, JfifInfo_units);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, xDensity) == 14, JfifInfo_xDensity);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, yDensity) == 16, JfifInfo_yDensity);
QD_LAYOUT_ASSERT(offsetof(JfifInfo, reserved2) == 18, JfifInfo_reserved2);

/* ICC profile and IIM data taken from a file (for a TIFF RAW file: the blocks
 * of its private tag 0x08C5 and of tag 0x83BB). Both buffers are library
 * blocks; qdParseFreeOutPutInfo releases them and zeroes the record. */
typedef struct OutPutInfo {
    uint8_t *iccProfile;
    uint32_t iccProfileSize;
    uint8_t *iim;
    uint32_t iimSize;
} OutPutInfo;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(OutPutInfo) == 16, OutPutInfo_size);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iccProfile) == 0, OutPutInfo_iccProfile);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iccProfileSize) == 4, OutPutInfo_iccProfileSize);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iim) == 8, OutPutInfo_iim);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iimSize) == 12, OutPutInfo_iimSize);
#endif

/* A library block and its length: whole APP2/APP13 segments, or a complete
 * APP1 segment. qdParseFreeApp1Info (= qdParseFreeExtensionInfo) releases it. */
typedef struct ExtensionInfo {
    uint8_t *buffer;
    uint32_t size;
} ExtensionInfo;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(ExtensionInfo) == 8, ExtensionInfo_size);
QD_LAYOUT_ASSERT(offsetof(ExtensionInfo, buffer) == 0, ExtensionInfo_buffer);
QD_LAYOUT_ASSERT(offsetof(ExtensionInfo, size) == 4, ExtensionInfo_size_field);
#endif

/* Image description from a TIFF RAW file's IFD0. */
typedef struct TiffImageInfo {
    uint32_t colour; /* 1 when PhotometricInterpretation is 1 or 2 */
    uint32_t rgb;    /* 1 when PhotometricInterpretation is 2 */
    uint16_t width;
    uint16_t height;
} TiffImageInfo;

QD_LAYOUT_ASSERT(sizeof(TiffImageInfo) == 12, TiffImageInfo_size);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, colour) == 0, TiffImageInfo_colour);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, rgb) == 4, TiffImageInfo_rgb);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, width) == 8, TiffImageInfo_width);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, height) == 10, TiffImageInfo_height);

/* The baseline frame of a JPEG file (QDParseGetJPEGInfo). */
typedef struct JpegImageInfo {
    uint16_t width;
    uint16_t height;
    uint16_t components;
    uint16_t sampling; /* first component: horizontal * 16 + vertical */
} JpegImageInfo;

QD_LAYOUT_ASSERT(sizeof(JpegImageInfo) == 8, JpegImageInfo_size);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, width) == 0, JpegImageInfo_width);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, height) == 2, JpegImageInfo_height);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, components) == 4, JpegImageInfo_components);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, sampling) == 6, JpegImageInfo_sampling);

/*
 * Description of the main image. The first 48 bytes have the layout of
 * ExifImageInfo and QdThumbnailInfo. Image format codes: 0 none; 1, 2, 3, 9
 * from a heap; 5 Exif JPEG; 6 the JPEG file itself as thumbnail; 8 Exif
 * TIFF; 10 auxiliary image; 11 raw image in an Exif TIFF.
 */
typedef struct QdImageInfo {
    char model[32];                 /* camera model, zero-terminated */
    uint8_t format;                 /* image format code; 0 = no image */
    uint8_t bitsPerSample;
    uint8_t bitsPerPixel;
    uint8_t colour;                 /* nonzero for a colour image */
    uint16_t width;
    uint16_t height;
    float aspect;                   /* pixel aspect ratio */
    uint16_t xResolution;           /* dots per inch */
    uint16_t yResolution;
    float compressedBitsPerPixel;   /* file size * 8 / (width * height) */
    uint8_t dataCode;               /* 1, 2 or 3 */
    uint16_t fullWidth;             /* full-view (developed) image */
    uint16_t fullHeight;
    float fullAspect;
    uint16_t fullXResolution;
    uint16_t fullYResolution;
    uint32_t pathValues[3];         /* 0xFFFFFFFF when not given */
    uint8_t flags;                  /* bit 0x02 set by the parse paths */
} QdImageInfo;

QD_LAYOUT_ASSERT(sizeof(QdImageInfo) == 78, QdImageInfo_size);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, model) == 0x00, QdImageInfo_model);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, format) == 0x20, QdImageInfo_format);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, bitsPerSample) == 0x21, QdImageInfo_bitsPerSample);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, bitsPerPixel) == 0x22, QdImageInfo_bitsPerPixel);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, colour) == 0x23, QdImageInfo_colour);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, width) == 0x24, QdImageInfo_width);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, height) == 0x26, QdImageInfo_height);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, aspect) == 0x28, QdImageInfo_aspect);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, xResolution) == 0x2C, QdImageInfo_xResolution);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, yResolution) == 0x2E, QdImageInfo_yResolution);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, compressedBitsPerPixel) == 0x30, QdImageInfo_cbpp);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, dataCode) == 0x34, QdImageInfo_dataCode);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, fullWidth) == 0x35, QdImageInfo_fullWidth);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, fullHeight) == 0x37, QdImageInfo_fullHeight);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, fullAspect) == 0x39, QdImageInfo_fullAspect);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, fullXResolution) == 0x3D, QdImageInfo_fullXResolution);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, fullYResolution) == 0x3F, QdImageInfo_fullYResolution);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, pathValues) == 0x41, QdImageInfo_pathValues);
QD_LAYOUT_ASSERT(offsetof(QdImageInfo, flags) == 0x4D, QdImageInfo_flags);

/*
 * The image description that Exif writing and replacement read: the first
 * 48 bytes of QdImageInfo. When `valid` (the image format code) is 0 the
 * whole record is ignored. bitsPerSample, bitsPerPixel, colour and aspect
 * are used only when rewriting a heap.
 */
typedef struct ExifImageInfo {
    char model[32];
    uint8_t valid;
    uint8_t bitsPerSample;
    uint8_t bitsPerPixel;
    uint8_t colour;
    uint16_t width;
    uint16_t height;
    float aspect;          /* its bit pattern is copied as is */
    uint16_t xResolution;  /* dots per inch */
    uint16_t yResolution;
} ExifImageInfo;

QD_LAYOUT_ASSERT(sizeof(ExifImageInfo) == 48, ExifImageInfo_size);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, model) == 0, ExifImageInfo_model);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, valid) == 32, ExifImageInfo_valid);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, bitsPerSample) == 33, ExifImageInfo_bitsPerSample);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, bitsPerPixel) == 34, ExifImageInfo_bitsPerPixel);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, colour) == 35, ExifImageInfo_colour);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, width) == 36, ExifImageInfo_width);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, height) == 38, ExifImageInfo_height);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, aspect) == 40, ExifImageInfo_aspect);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, xResolution) == 44, ExifImageInfo_xResolution);
QD_LAYOUT_ASSERT(offsetof(ExifImageInfo, yResolution) == 46, ExifImageInfo_yResolution);

/* Description of the thumbnail: the first 48 bytes of QdImageInfo. */
typedef struct QdThumbnailInfo {
    char model[32];
    uint8_t format;        /* image format code; 0 = no thumbnail */
    uint8_t bitsPerSample;
    uint8_t bitsPerPixel;
    uint8_t colour;
    uint16_t width;
    uint16_t height;
    float aspect;
    uint16_t xResolution;
    uint16_t yResolution;
} QdThumbnailInfo;

QD_LAYOUT_ASSERT(sizeof(QdThumbnailInfo) == 48, QdThumbnailInfo_size);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, model) == 0, QdThumbnailInfo_model);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, format) == 32, QdThumbnailInfo_format);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, bitsPerSample) == 33, QdThumbnailInfo_bitsPerSample);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, bitsPerPixel) == 34, QdThumbnailInfo_bitsPerPixel);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, colour) == 35, QdThumbnailInfo_colour);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, width) == 36, QdThumbnailInfo_width);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, height) == 38, QdThumbnailInfo_height);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, aspect) == 40, QdThumbnailInfo_aspect);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, xResolution) == 44, QdThumbnailInfo_xResolution);
QD_LAYOUT_ASSERT(offsetof(QdThumbnailInfo, yResolution) == 46, QdThumbnailInfo_yResolution);

/* An additional image of an Exif file (format 10): the thumbnail layout and
 * three values from the maker note. Also the second image record that
 * QDParseReplaceProperties2 takes. */
typedef struct QdAuxImageInfo {
    char model[32];
    uint8_t format;
    uint8_t bitsPerSample;
    uint8_t bitsPerPixel;
    uint8_t colour;
    uint16_t width;
    uint16_t height;
    float aspect;
    uint16_t xResolution;
    uint16_t yResolution;
    uint16_t extra[3];
} QdAuxImageInfo;

QD_LAYOUT_ASSERT(sizeof(QdAuxImageInfo) == 54, QdAuxImageInfo_size);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, model) == 0, QdAuxImageInfo_model);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, format) == 32, QdAuxImageInfo_format);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, bitsPerSample) == 33, QdAuxImageInfo_bitsPerSample);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, bitsPerPixel) == 34, QdAuxImageInfo_bitsPerPixel);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, colour) == 35, QdAuxImageInfo_colour);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, width) == 36, QdAuxImageInfo_width);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, height) == 38, QdAuxImageInfo_height);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, aspect) == 40, QdAuxImageInfo_aspect);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, xResolution) == 44, QdAuxImageInfo_xResolution);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, yResolution) == 46, QdAuxImageInfo_yResolution);
QD_LAYOUT_ASSERT(offsetof(QdAuxImageInfo, extra) == 48, QdAuxImageInfo_extra);

/* Capture data. */
typedef struct ExifCaptureInfo {
    int32_t time;          /* seconds since 1970-01-01 UTC; 0 = unknown */
    uint32_t fileNumber;   /* 0xFFFFFFFF = not given */
    char owner[32];        /* zero-terminated */
    char imageType[32];    /* zero-terminated */
} ExifCaptureInfo;

QD_LAYOUT_ASSERT(sizeof(ExifCaptureInfo) == 72, ExifCaptureInfo_size);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, time) == 0, ExifCaptureInfo_time);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, fileNumber) == 4, ExifCaptureInfo_fileNumber);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, owner) == 8, ExifCaptureInfo_owner);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, imageType) == 40, ExifCaptureInfo_imageType);

/* Four exposure values and two settings. Each field has a value that means
 * absent; the parse exports start from those. */
typedef struct ExifShotValues {
    float aperture;             /* APEX Av; -1.0 = absent */
    float shutterSpeed;         /* APEX Tv; 100.0 = absent */
    float exposureCompensation; /* EV; 100.0 = absent */
    float additionalEv;         /* kept in the maker note only; -1.0 = absent */
    uint16_t settingWord;       /* kept divided by 100 in the maker note; 0xFFFF = absent */
    uint8_t settingFlag;        /* two-state: 1 or 0; 0xFF = absent */
} ExifShotValues;

QD_LAYOUT_ASSERT(sizeof(ExifShotValues) == 19, ExifShotValues_size);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, aperture) == 0, ExifShotValues_aperture);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, shutterSpeed) == 4, ExifShotValues_shutterSpeed);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, exposureCompensation) == 8, ExifShotValues_expComp);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, additionalEv) == 12, ExifShotValues_additionalEv);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, settingWord) == 16, ExifShotValues_settingWord);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, settingFlag) == 18, ExifShotValues_settingFlag);

/* A typed property record: `size` payload bytes follow this 6-byte head
 * directly, multi-byte payload fields little-endian. Writers take lists as
 * null-terminated arrays of pointers; the parse exports write the same
 * framing to their property stream. Codes 0, above 0x111 and unknown codes
 * are skipped; payload sizes are not checked beyond `size`. */
typedef struct PropertyRecord {
    uint16_t code;
    uint32_t size;
} PropertyRecord;

QD_LAYOUT_ASSERT(sizeof(PropertyRecord) == 6, PropertyRecord_size);
QD_LAYOUT_ASSERT(offsetof(PropertyRecord, code) == 0, PropertyRecord_code);
QD_LAYOUT_ASSERT(offsetof(PropertyRecord, size) == 2, PropertyRecord_size_field);

/* One IIM dataset in exchange form: `length` data bytes follow this 6-byte
 * head directly. Lists are null-terminated arrays of pointers. */
typedef struct IimRecord {
    uint8_t record;
    uint8_t dataset;
    uint32_t length;   /* little-endian */
} IimRecord;

QD_LAYOUT_ASSERT(sizeof(IimRecord) == 6, IimRecord_size);
QD_LAYOUT_ASSERT(offsetof(IimRecord, record) == 0, IimRecord_record);
QD_LAYOUT_ASSERT(offsetof(IimRecord, dataset) == 1, IimRecord_dataset);
QD_LAYOUT_ASSERT(offsetof(IimRecord, length) == 2, IimRecord_length);

/* A maker note built alone. `data` is a library block released by
 * qdParseFreeMakerNoteBuffer; offsets inside it count from the TIFF header of
 * the block it was built in, where it stood at `offset`. */
typedef struct MakerNoteBuffer {
    uint8_t *data;
    uint32_t size;
    uint32_t offset;
    uint8_t byteOrder; /* set by the caller: 0 little-endian, nonzero big-endian */
} MakerNoteBuffer;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(MakerNoteBuffer) == 13, MakerNoteBuffer_size);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, data) == 0, MakerNoteBuffer_data);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, size) == 4, MakerNoteBuffer_size_field);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, offset) == 8, MakerNoteBuffer_offset);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, byteOrder) == 12, MakerNoteBuffer_byteOrder);
#endif

/* Where the maker note of an Exif file lies. */
typedef struct MakerNoteLocation {
    uint32_t length;
    uint8_t byteOrder; /* of the TIFF data: 0 "II", 1 "MM" */
    uint32_t offset;   /* Exif TIFF: file offset; Exif JPEG: from the APP1 TIFF header */
} MakerNoteLocation;

QD_LAYOUT_ASSERT(sizeof(MakerNoteLocation) == 9, MakerNoteLocation_size);
QD_LAYOUT_ASSERT(offsetof(MakerNoteLocation, length) == 0, MakerNoteLocation_length);
QD_LAYOUT_ASSERT(offsetof(MakerNoteLocation, byteOrder) == 4, MakerNoteLocation_byteOrder);
QD_LAYOUT_ASSERT(offsetof(MakerNoteLocation, offset) == 5, MakerNoteLocation_offset);

/* Thumbnail description that qdParseCreateHeapObjectEx2 stores in the heap
 * (record 0x183D), each field widened to 32 bits; the aspect is stored as
 * its integer part. */
typedef struct HeapObjectSupplement {
    uint32_t word0;        /* stored as is */
    uint8_t format;
    uint8_t bitsPerSample;
    uint8_t bitsPerPixel;
    uint8_t colour;
    uint16_t width;
    uint16_t height;
    float aspect;
    uint16_t xResolution;
    uint16_t yResolution;
} HeapObjectSupplement;

QD_LAYOUT_ASSERT(sizeof(HeapObjectSupplement) == 20, HeapObjectSupplement_size);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, word0) == 0, HeapObjectSupplement_word0);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, format) == 4, HeapObjectSupplement_format);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, bitsPerSample) == 5, HeapObjectSupplement_bps);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, bitsPerPixel) == 6, HeapObjectSupplement_bpp);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, colour) == 7, HeapObjectSupplement_colour);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, width) == 8, HeapObjectSupplement_width);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, height) == 10, HeapObjectSupplement_height);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, aspect) == 12, HeapObjectSupplement_aspect);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, xResolution) == 16, HeapObjectSupplement_xRes);
QD_LAYOUT_ASSERT(offsetof(HeapObjectSupplement, yResolution) == 18, HeapObjectSupplement_yRes);

/* Format chunk of a WAVE stream, as stored (block align is not copied). */
typedef struct QdWaveInfo {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t bytesPerSecond;
    uint16_t bitsPerSample;
} QdWaveInfo;

QD_LAYOUT_ASSERT(sizeof(QdWaveInfo) == 14, QdWaveInfo_size);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, formatTag) == 0, QdWaveInfo_formatTag);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, channels) == 2, QdWaveInfo_channels);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, sampleRate) == 4, QdWaveInfo_sampleRate);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, bytesPerSecond) == 8, QdWaveInfo_bytesPerSecond);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, bitsPerSample) == 12, QdWaveInfo_bitsPerSample);

/* Sound properties of a memo in the cameras' fixed format (11000 one-byte
 * samples per second). */
typedef struct QdSoundProperties {
    uint32_t value;      /* QDEstimateSoundProperties' `value`; else untouched */
    uint32_t fileNumber; /* DCF file number from the name; else untouched */
    float duration;      /* seconds */
    uint32_t sampleRate; /* always 11000 */
    uint8_t fixed[2];    /* always 1, 1 */
    uint8_t bitsPerSample; /* always 8 */
} QdSoundProperties;

QD_LAYOUT_ASSERT(sizeof(QdSoundProperties) == 19, QdSoundProperties_size);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, value) == 0, QdSoundProperties_value);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, fileNumber) == 4, QdSoundProperties_fileNumber);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, duration) == 8, QdSoundProperties_duration);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, sampleRate) == 12, QdSoundProperties_sampleRate);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, fixed) == 16, QdSoundProperties_fixed);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, bitsPerSample) == 18, QdSoundProperties_bits);

#pragma pack(pop)

/* ---- Constants of single exports --------------------------------------- */

/* QDParseJpegCheck: not an error. With *portrait 1 the file conforms and is a
 * portrait picture as the camera writes it; with *portrait 0 a tag failed its
 * rule and *failingTag names it (0xFFFF for a missing IFD). */
#define QD_CHECK_TAG_OR_PORTRAIT 0x00000051u

/* QDParseMakePreserveIIMInfo: what `source` points to. */
#define QD_IIM_SOURCE_STREAM 1u /* a qdlStream holding IimRecords */
#define QD_IIM_SOURCE_LIST   2u /* a null-terminated array of IimRecord pointers */

/*
 * ---- Exports -----------------------------------------------------------
 *
 * Unless a comment says otherwise, an export that takes a stream requires its
 * read, seek and tell callbacks (write too when it writes the stream), checks
 * them and its required pointers before any callback runs (QD_E_INVALID_ARG),
 * opens the stream (QD_OPEN_READ, or QD_OPEN_UPDATE when it rewrites it),
 * clears its output records, and closes the stream on every path. Pointers
 * not named as required may be null. Records the caller passes are only read
 * unless named as outputs; nothing in them is checked beyond null pointers.
 */

/* -- Heap records and heap objects -- */

/* Reports where the records named by the entry list at *cursor lie inside
 * `heap` (nothing is copied) and advances *cursor past the list. Returns an
 * internal status in the low 16 bits (0 success, 0x6045 corrupt heap), not a
 * result code. cursor is required. The heap's tables are byte-swapped in
 * place during the call, so the heap must be writable and not shared. */
QD_EXPORT uint32_t QD_API _GetHeapRecordEntryPtr(HeapObject heap, RecordEntry **cursor);

/* Copies the records named by the entry list at *cursor out of `heap` into the
 * entries' buffers (byte order converted) and advances *cursor past the list.
 * cursor is required. Blocks allocated for size-0 entries belong to the caller. */
QD_EXPORT uint32_t QD_API qdParseHeapObject(HeapObject heap, RecordEntry **cursor);

/* Releases heap.block when non-null. Always returns QD_OK; a block that fails
 * its ownership check is left alone. */
QD_EXPORT uint32_t QD_API qdParseFreeHeapObject(HeapObject heap);

/* Builds a new image-properties heap from `source` (an existing file whose
 * properties are the starting point; not opened or closed here) and the
 * caller's values; every input may be null, out is required. On success *out
 * owns its block: release it with qdParseFreeHeapObject. */
QD_EXPORT uint32_t QD_API qdParseCreateHeapObject(const qdlStream *source,
                                                  const QdImageInfo *imageInfo,
                                                  const ExifCaptureInfo *captureInfo,
                                                  const ExifShotValues *shotValues,
                                                  PropertyRecord **records, HeapObject *out);

/* As qdParseCreateHeapObject, and also writes the firmware text and the
 * camera-settings and shot-information arrays. */
QD_EXPORT uint32_t QD_API qdParseCreateHeapObjectEx(const qdlStream *source,
                                                    const QdImageInfo *imageInfo,
                                                    const ExifCaptureInfo *captureInfo,
                                                    const ExifShotValues *shotValues,
                                                    PropertyRecord **records, HeapObject *out);

/* As qdParseCreateHeapObjectEx, and stores `supplement` (may be null) as the
 * heap's thumbnail description. */
QD_EXPORT uint32_t QD_API qdParseCreateHeapObjectEx2(const qdlStream *source,
                                                     const QdImageInfo *imageInfo,
                                                     const ExifCaptureInfo *captureInfo,
                                                     const ExifShotValues *shotValues,
                                                     PropertyRecord **records, HeapObject *out,
                                                     const HeapObjectSupplement *supplement);

/* Writes into *out a new heap object: `source` (may be null for an empty
 * heap; not changed) with the entries marked found replaced or added. entries
 * and out are required; *out is written only on success and is the caller's
 * to release (qdParseFreeHeapObject), as is `source`. */
QD_EXPORT uint32_t QD_API qdParseMergePropertiesIntoHeapObject(const HeapObject *source,
                                                              const RecordEntry *entries,
                                                              HeapObject *out);

/* Fetches the heap object of a heap file, a JPEG with a heap or a TIFF RAW
 * file (Exif files: QD_E_UNSUPPORTED). *heapClass receives 1, 2 or 3 for those
 * kinds, else 0. The stream is not opened or closed here. out, sof, jfif and
 * tiff are required; release *out with qdParseFreeHeapObject. */
QD_EXPORT uint32_t QD_API qdParseGetPropHeapObject(const qdlStream *stream, uint8_t *heapClass,
                                                   HeapObject *out, JpegSofInfo *sof,
                                                   JfifInfo *jfif, TiffImageInfo *tiff);

/* Fetches the file's heap object with its image description set to the
 * developed picture of imageInfo (full-view fields; required). The stream is
 * not opened or closed here; unused1 and unused2 are not read. Release *out
 * (required) with qdParseFreeHeapObject. */
QD_EXPORT uint32_t QD_API qdParseGetHeapObjectDeveloped(const qdlStream *stream,
                                                        const QdImageInfo *imageInfo,
                                                        uint32_t unused1, uint32_t unused2,
                                                        HeapObject *out);

/* Reports whether the developed state of the file's heap can be cleared. The
 * stream is not opened, closed or written; the two values are not read. */
QD_EXPORT uint32_t QD_API QDParseSetDeveloped(const qdlStream *stream, uint16_t unused1,
                                              uint16_t unused2);

/* Reports the image format code, camera model and maker of a file (model and
 * maker: 32-byte buffers, zero-terminated). At least one output is required. */
QD_EXPORT uint32_t QD_API qdParseGetFileType(const qdlStream *stream, uint8_t *formatCode,
                                             char *model, char *maker);

/* Writes the value of one property, named by `propertyId` (tag or record type,
 * type, location, conversion), to `destination` (required; needs write).
 * *fileType (may be null) receives the file type code. */
QD_EXPORT uint32_t QD_API QDParseGetSingleProperty(const qdlStream *stream, uint8_t *fileType,
                                                   uint32_t propertyId,
                                                   const qdlStream *destination);

/* Locates the camera maker's maker note of an Exif file in *location
 * (required); other makers give QD_E_OTHER_MAKER. When `destination` is given
 * (it needs open, write and close) the maker note's bytes are written to it. */
QD_EXPORT uint32_t QD_API qdParseGetDCFMakerNote(const qdlStream *stream,
                                                 MakerNoteLocation *location,
                                                 const qdlStream *destination);

/* -- Exif and JPEG reading -- */

/* Runs an IFD query list over the TIFF block in memory. Both are required;
 * the first query stores byteOrder and ifdOffset into `block`. Only list
 * errors and an unusable starting IFD fail; absent tags stay unfound. */
QD_EXPORT uint32_t QD_API qdParseExifProperty(TiffBlockInfo *block, IfdQuery *list);

/* Describes the first baseline frame (SOF0) of a JPEG stream; other frame
 * types give QD_E_UNSUPPORTED. */
QD_EXPORT uint32_t QD_API QDParseGetJPEGInfo(const qdlStream *stream, JpegImageInfo *info);

/* Copies the first frame header (length field and payload) of `source` to
 * `destination`, which is opened with QD_OPEN_UPDATE. Both need open and
 * close, source read/seek/tell, destination write/seek/tell. No frame header:
 * nothing written, QD_OK. */
QD_EXPORT uint32_t QD_API QDParseGetSOFData(const qdlStream *source,
                                            const qdlStream *destination);

/* Lays out the IFD tree described by `list` (both required) as a
 * little-endian Exif block ("LoLe" signature when kind is 1) and describes it
 * in *out; release it with qdParseFreeExifBuffer. Requests mean, when
 * building: IFDQ_READ one entry with its value (data = address of the values,
 * size = their bytes; tag 0 is passed over); IFDQ_LOCATE one entry with
 * `data` bytes reserved (size = its count; data returns the area's offset);
 * IFDQ_NEXT_IFD the next IFD of the chain; IFDQ_ENTER ... IFDQ_LEAVE a sub-IFD
 * (size 0 is replaced by its byte size); IFDQ_PLACEHOLDER nothing. data/size
 * on IFDQ_END or IFDQ_LEAVE: a block copied after that IFD, its bytes 4-7
 * overwritten with the IFD's offset. Entries go in list order. */
QD_EXPORT uint32_t QD_API qdParseCreateExifProperty(IfdQuery *list, TiffBlockInfo *out,
                                                    uint32_t kind);

/* -- Conformance -- */

/* Checks a JPEG file against the camera file-system rules: QD_OK, or
 * QD_CHECK_TAG_OR_PORTRAIT (see there), or QD_E_UNSUPPORTED for a structural
 * failure. Needs open and close; failingTag and portrait are required.
 * `unused` is not read. */
QD_EXPORT uint32_t QD_API QDParseJpegCheck(const qdlStream *stream, uint32_t unused,
                                           uint16_t *failingTag, uint16_t *portrait);

/* *present (required) = 1 when the stream ends with the 64-byte
 * optional-data trailer, else 0. Needs open and close. */
QD_EXPORT uint32_t QD_API QDParseHasVedraOptionalData(const qdlStream *stream, uint16_t *present);

/* -- IIM -- */

/* Writes the IIM datasets of a JPEG or TIFF file that this library extracts
 * to `destination` (needs open, write and close), one IimRecord each. */
QD_EXPORT uint32_t QD_API QDParseGetIIMInfo(const qdlStream *source,
                                            const qdlStream *destination);

/* Overwrites, in place, the datasets of the file that `records` (required)
 * name; stored lengths never change (values are cut or zero-padded) and
 * datasets the file lacks are skipped. */
QD_EXPORT uint32_t QD_API QDParseReplaceIIMInfo(const qdlStream *stream, IimRecord **records);

/* Packs IIM records into a preserved-IIM block written to `destination`
 * (needs open, write and close). sourceKind QD_IIM_SOURCE_STREAM: `source` is
 * a qdlStream (read, seek, tell); QD_IIM_SOURCE_LIST: an IimRecord** (at most
 * 100 records). */
QD_EXPORT uint32_t QD_API QDParseMakePreserveIIMInfo(uint32_t sourceKind, const void *source,
                                                     const qdlStream *destination);

/* Unpacks a preserved-IIM block into IimRecords written to `destination`
 * (needs open, write and close). */
QD_EXPORT uint32_t QD_API QDParseReadPreserveIIMInfo(const qdlStream *source,
                                                     const qdlStream *destination);

/*
 * -- Parsing and extraction --
 *
 * Output records are cleared first (shot values set to their absent values)
 * and owned by the caller. Output streams are used only when non-null with a
 * write callback; each is opened (QD_OPEN_WRITE), written and closed:
 * propertyOut receives typed property records (PropertyRecord framing, ended
 * by code 0x111), commentOut the user comment as one record of code 11,
 * dcfThumbOut the Exif thumbnail as raw bytes. `reserved` is not used.
 * fileSize is the file's length for the compressed-bits figure; 0 if unknown.
 */

/* Describes a file. Callbacks are not checked and the stream is not opened or
 * closed: the host does both. *fileType receives the file type code. */
QD_EXPORT uint32_t QD_API QDParseStream(const qdlStream *stream, QdThumbnailInfo *thumbInfo,
                                        QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo,
                                        ExifShotValues *shotValues, uint8_t *fileType);

/* QDParseStream with the auxiliary image description. */
QD_EXPORT uint32_t QD_API QDParseStream2(const qdlStream *stream, QdThumbnailInfo *thumbInfo,
                                         QdImageInfo *imageInfo, QdAuxImageInfo *auxInfo,
                                         ExifCaptureInfo *captureInfo,
                                         ExifShotValues *shotValues, uint8_t *fileType);

/* Describes a file and writes its properties and comment to the given streams. */
QD_EXPORT uint32_t QD_API QDParseThumbnailFileStream(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo, ExifShotValues *shotValues,
    const qdlStream *reserved, const qdlStream *commentOut, const qdlStream *propertyOut);

/* QDParseThumbnailFileStream that also writes the DCF thumbnail. */
QD_EXPORT uint32_t QD_API QDParseThumbnailFileStreamEx(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo, ExifShotValues *shotValues,
    const qdlStream *reserved, const qdlStream *commentOut, const qdlStream *propertyOut,
    const qdlStream *dcfThumbOut);

/* Second name of QDParseThumbnailFileStreamEx. */
QD_EXPORT uint32_t QD_API QDParseGetFileStream(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo, ExifShotValues *shotValues,
    const qdlStream *reserved, const qdlStream *commentOut, const qdlStream *propertyOut,
    const qdlStream *dcfThumbOut);

/* QDParseThumbnailFileStreamEx with the auxiliary image description. */
QD_EXPORT uint32_t QD_API QDParseThumbnailFileStreamEx2(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, QdAuxImageInfo *auxInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut, const qdlStream *dcfThumbOut);

/* Same as QDParseThumbnailFileStreamEx2. */
QD_EXPORT uint32_t QD_API QDParseGetFileStream2(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, QdAuxImageInfo *auxInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut, const qdlStream *dcfThumbOut);

/* Describes the main image and writes properties and comment; the file size
 * is taken from the stream. */
QD_EXPORT uint32_t QD_API QDParseFullViewFileStream(
    const qdlStream *stream, QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut);

/* QDParseFullViewFileStream that also writes the DCF thumbnail. */
QD_EXPORT uint32_t QD_API QDParseFullViewFileStreamEx(
    const qdlStream *stream, QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut, const qdlStream *dcfThumbOut);

/* Writes only the DCF thumbnail of an Exif file to dcfThumbOut. */
QD_EXPORT uint32_t QD_API QDParseGetDCFThumbnail(const qdlStream *stream,
                                                 const qdlStream *dcfThumbOut);

/* Writes the embedded JPEG of a heap file to `out` (required; needs write):
 * which 1 or 2 selects one of its two images, anything else gives
 * QD_E_INVALID_ARG. A missing image gives QD_E_FAILED. */
QD_EXPORT uint32_t QD_API qdParseGetJpegDataFromQdRAW(const qdlStream *stream, uint8_t which,
                                                      const qdlStream *out);

/* Copies `length` bytes from `offset` of `in` (read, seek, tell; not opened) to
 * `out` (open, write, close) with one read and one write; a short read writes
 * only what came. The range must lie inside `in`; its position is restored. */
QD_EXPORT uint32_t QD_API _cropStream(const qdlStream *in, uint32_t offset, uint32_t length,
                                      const qdlStream *out);

/* Reports the size of the IFD1 strip image of a TIFF file with an Exif IFD
 * and, when `out` is given (it needs open, write and close), copies its strip
 * bytes there with _cropStream. */
QD_EXPORT uint32_t QD_API qdParseGetTWAINThumbnailDataFromTiffRAW(const qdlStream *stream,
                                                                  uint16_t *width,
                                                                  uint16_t *height,
                                                                  const qdlStream *out);

/* As qdParseGetTWAINThumbnailDataFromTiffRAW for the IFD0 strip image. */
QD_EXPORT uint32_t QD_API qdParseGetLCDDataFromTiffRAW(const qdlStream *stream, uint16_t *width,
                                                       uint16_t *height, const qdlStream *out);

/* -- Sound -- */

/* Reads the format chunk of a WAVE stream, which must be its first chunk. */
QD_EXPORT uint32_t QD_API QDParseGetWAVEInfo(const qdlStream *stream, QdWaveInfo *info);

/* Fills the duration and fixed format of *props (required) from the stream's
 * length; `value` and `fileNumber` are left alone. Only seek and tell are
 * needed; `reserved` is not read. */
QD_EXPORT uint32_t QD_API QDParseSoundProperties(const qdlStream *stream,
                                                 QdSoundProperties *props, uint32_t reserved);

/* Fills *props (required) from a file name (extension WAV, VRW, JPG or TIF,
 * else QD_E_UNSUPPORTED; required) and a data length, without a stream.
 * `reserved` is not read. */
QD_EXPORT uint32_t QD_API QDEstimateSoundProperties(const char *fileName, uint32_t dataLength,
                                                    uint32_t value, QdSoundProperties *props,
                                                    uint32_t reserved);

/* -- Exif writing -- */

/* Builds a complete little-endian Exif property buffer from the caller's
 * values (every input may be null; out is required) in the basic camera
 * form. Release *out with qdParseFreeExifBuffer. */
QD_EXPORT uint32_t QD_API qdParseCreateExifPropBuffer(const ExifImageInfo *imageInfo,
                                                      const ExifCaptureInfo *captureInfo,
                                                      const ExifShotValues *shotValues,
                                                      PropertyRecord **records,
                                                      TiffBlockInfo *out);

/* As qdParseCreateExifPropBuffer, with firmware text and the maker-note arrays. */
QD_EXPORT uint32_t QD_API qdParseCreateExifPropBufferEx(const ExifImageInfo *imageInfo,
                                                        const ExifCaptureInfo *captureInfo,
                                                        const ExifShotValues *shotValues,
                                                        PropertyRecord **records,
                                                        TiffBlockInfo *out);

/* As qdParseCreateExifPropBufferEx with the "LoLe" signature. */
QD_EXPORT uint32_t QD_API qdParseCreateLossLessPropBuffer(const ExifImageInfo *imageInfo,
                                                          const ExifCaptureInfo *captureInfo,
                                                          const ExifShotValues *shotValues,
                                                          PropertyRecord **records,
                                                          TiffBlockInfo *out);

/* Builds the maker note alone in the byte order the caller set in
 * out->byteOrder (out is required). Release it with qdParseFreeMakerNoteBuffer. */
QD_EXPORT uint32_t QD_API qdParseCreateMakerNote(const ExifImageInfo *imageInfo,
                                                 const ExifCaptureInfo *captureInfo,
                                                 const ExifShotValues *shotValues,
                                                 PropertyRecord **records, MakerNoteBuffer *out);

/* The release functions free the record's library block(s) when non-null,
 * zero the whole record and return QD_OK; releasing a zeroed record is
 * harmless. The record pointer itself is not checked. */
QD_EXPORT uint32_t QD_API qdParseFreeExifBuffer(TiffBlockInfo *block);
QD_EXPORT uint32_t QD_API qdParseFreeOutPutInfo(OutPutInfo *info);
QD_EXPORT uint32_t QD_API qdParseFreeApp1Info(ExtensionInfo *info);
/* Second name of qdParseFreeApp1Info. */
QD_EXPORT uint32_t QD_API qdParseFreeExtensionInfo(ExtensionInfo *info);
QD_EXPORT uint32_t QD_API qdParseFreeMakerNoteBuffer(MakerNoteBuffer *buffer);

/*
 * -- Replacement --
 *
 * Values are overwritten where they lie, with their existing type and size:
 * no tag or record is added and the file never grows or shrinks. A failing
 * rewrite may leave the file partly changed. captureInfo->time may be shifted
 * by the local zone offset on return.
 */

/* QDParseReplaceProperties2 without a second image record. */
QD_EXPORT uint32_t QD_API QDParseReplaceProperties(const qdlStream *stream,
                                                   const ExifImageInfo *imageInfo,
                                                   ExifCaptureInfo *captureInfo,
                                                   const ExifShotValues *shotValues,
                                                   PropertyRecord **records);

/* Rewrites the properties of a heap file, a JPEG or a TIFF file in place.
 * secondImage stands in for imageInfo when that is null or invalid. */
QD_EXPORT uint32_t QD_API QDParseReplaceProperties2(const qdlStream *stream,
                                                    const ExifImageInfo *imageInfo,
                                                    const QdAuxImageInfo *secondImage,
                                                    ExifCaptureInfo *captureInfo,
                                                    const ExifShotValues *shotValues,
                                                    PropertyRecord **records);

/* Overwrites one property, named as for QDParseGetSingleProperty, with the
 * bytes of `value` (required; needs read, seek and tell; opened, read whole
 * and closed). *fileType (may be null) receives the file type code. */
QD_EXPORT uint32_t QD_API QDParseReplaceSingleProperty(const qdlStream *stream,
                                                       uint8_t *fileType, uint32_t propertyId,
                                                       const qdlStream *value);

/* Returns in *out (required) a changed copy of an Exif JPEG's Exif block; the
 * file is only read. Release it with qdParseFreeExifBuffer. */
QD_EXPORT uint32_t QD_API qdParseGetExifPropBufferWithReplace(const qdlStream *stream,
                                                              const ExifImageInfo *imageInfo,
                                                              ExifCaptureInfo *captureInfo,
                                                              const ExifShotValues *shotValues,
                                                              PropertyRecord **records,
                                                              TiffBlockInfo *out);

/* As qdParseGetExifPropBufferWithReplace, wrapped as a complete APP1 segment
 * in *segment (required). *segmentInfo (may be null) receives the file's
 * APP2/APP13 segments. Release both with qdParseFreeApp1Info. */
QD_EXPORT uint32_t QD_API qdParseExifJpegMakeImageProperty(const qdlStream *stream,
                                                           const ExifImageInfo *imageInfo,
                                                           ExifCaptureInfo *captureInfo,
                                                           const ExifShotValues *shotValues,
                                                           PropertyRecord **records,
                                                           ExtensionInfo *segment,
                                                           ExtensionInfo *segmentInfo);

#ifdef __cplusplus
}
#endif

#endif /* QDPARSE_H */
