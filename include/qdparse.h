/**
 * @file qdparse.h
 * @brief The public C interface of qdparse.
 *
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
 *
 * Unless its documentation says otherwise, an export that takes a stream
 * requires its read, seek and tell callbacks (write too when it writes the
 * stream), checks them and its required pointers before any callback runs
 * (QD_E_INVALID_ARG), opens the stream (QD_OPEN_READ, or QD_OPEN_UPDATE when it
 * rewrites it; a host open error is returned as it is and nothing else
 * happens), clears its output records, and closes the stream on every path
 * after that (a close error is returned when nothing else failed). Pointers
 * not named as required may be null.
 */
#ifndef QDPARSE_H
#define QDPARSE_H

#include <stddef.h>
#include <stdint.h>

/* ---- Version ------------------------------------------------------------ */

/** @defgroup version Version
 * The version of this header and of the library built with it.
 * @{ */

/* The version of this header and of the library built with it; the build
 * takes its project, package and shared-library versions from these lines. */
/** Major version: changes that break the interface. */
#define QDPARSE_VERSION_MAJOR 1
/** Minor version: new exports or fields. */
#define QDPARSE_VERSION_MINOR 0
/** Patch version: fixes only. */
#define QDPARSE_VERSION_PATCH 0
#define QD_VERSION_TEXT_(x) #x
#define QD_VERSION_TEXT(x) QD_VERSION_TEXT_(x)
/** The version as text: "1.0.0". */
#define QDPARSE_VERSION_STRING                                                    \
    QD_VERSION_TEXT(QDPARSE_VERSION_MAJOR) "." QD_VERSION_TEXT(QDPARSE_VERSION_MINOR) "." \
    QD_VERSION_TEXT(QDPARSE_VERSION_PATCH)

/** @} */

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
/** Calling convention of every export. */
#define QD_API QD_CALLCONV
/** Calling convention that every host callback must be declared with. */
#define QD_CALLBACK QD_CALLCONV

/** @def QD_EXPORT
 * Marks an export visible: dllexport while the DLL is built, dllimport for
 * its users (define QDPARSE_STATIC to link the static library), default
 * visibility on ELF. */
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

/** @defgroup results Result codes
 * Every export returns QD_OK, one of the QD_E_ codes, or a nonzero error value
 * that a host callback stored and that is handed back unchanged. Library
 * codes are 0x04000000 | n; treat any nonzero value as failure.
 * @{ */

#define QD_OK                 0x00000000u /**< success */
#define QD_E_FAILED           0x04000002u /**< any failure without a code of its own */
#define QD_E_NO_MEMORY        0x04000003u /**< an allocation failed */
#define QD_E_BLOCK_CHECK      0x04000004u /**< a released block failed its ownership check */
#define QD_E_OTHER_MAKER      0x04000007u /**< Exif Make is not the camera maker's name */
#define QD_E_RESERVED_2A      0x0400002Au /**< reserved; never returned */
#define QD_E_UNSUPPORTED      0x0400002Cu /**< not a format this call handles */
#define QD_E_CORRUPT          0x0400002Du /**< inconsistent structure */
#define QD_E_NOT_APPLICABLE   0x04000050u /**< wrong file kind, model or property identifier */
#define QD_E_OUT_OF_RANGE     0x04000051u /**< a referenced block runs past its container */
#define QD_E_INVALID_ARG      0x04000060u /**< a required argument or callback is missing */
#define QD_E_SIZE_MISMATCH    0x04000065u /**< new data does not fit the space it replaces */
#define QD_E_SHORT_READ       0x040000A7u /**< a host read delivered 0 or more bytes than asked */
#define QD_E_SHORT_WRITE      0x040000A8u /**< a host write took 0 or more bytes than offered */

/** @} */

/* ---- Host streams ------------------------------------------------------ */

/** @defgroup streams Host streams
 * The callback record through which the library reads and writes every byte.
 *
 * The callback contract. Every callback gets the stream's context first and
 * an error out-argument last. On success it must store 0 there; on failure
 * any nonzero value, which the library may hand back to the caller as it is.
 * The library passes error variables that are not cleared beforehand, so a
 * callback that leaves the value untouched has failed.
 *
 * - read/write: *count holds the number of bytes wanted on entry and the
 *   number transferred on return. A count of 0, or one larger than asked, is
 *   treated as a failed transfer (QD_E_SHORT_READ / QD_E_SHORT_WRITE, or
 *   QD_E_FAILED where the export says so) where the call needs every byte; a
 *   smaller nonzero count is a partial transfer and the library asks again
 *   for the rest.
 * - seek: with QD_SEEK_START the offset is a position from 0 to 2^32 - 1
 *   passed as its 32-bit pattern; with the other origins it is a signed
 *   distance.
 * - tell: returns the current position. It is the only callback whose return
 *   value is used; the others' return values are ignored.
 * - open/close/aux may be null unless an export says it needs them; read,
 *   seek and tell are required by every export that reads a stream, write by
 *   every export that writes one.
 * - aux is forwarded but never called by the library.
 *
 * An error that a callback stores reaches the caller unchanged where the
 * export calls the callback itself (open, close, and the transfers each
 * export lists); inside the parsers a failed callback becomes QD_E_FAILED
 * unless the export's documentation says it hands the host's value back.
 * @{ */

/** Modes passed to qdlStream.open. */
#define QD_OPEN_READ   1u /**< the stream is only read */
#define QD_OPEN_UPDATE 2u /**< read and written in place; its length never changes */
#define QD_OPEN_WRITE  3u /**< the stream is only written */

/** Origins passed to qdlStream.seek. */
#define QD_SEEK_START   1u /**< from the start: the offset is a position */
#define QD_SEEK_CURRENT 2u /**< from the current position: a signed distance */
#define QD_SEEK_END     3u /**< from the end: a signed distance */

/** Opens the stream in a QD_OPEN_ mode. */
typedef uint32_t (QD_CALLBACK *qdlOpenProc)(void *context, uint32_t mode, uint32_t *error);
/** Closes the stream. */
typedef uint32_t (QD_CALLBACK *qdlCloseProc)(void *context, uint32_t *error);
/** Reads up to *count bytes into buffer; *count returns the bytes read. */
typedef uint32_t (QD_CALLBACK *qdlReadProc)(void *context, void *buffer, uint32_t *count,
                                            uint32_t *error);
/** Writes up to *count bytes from buffer; *count returns the bytes taken. */
typedef uint32_t (QD_CALLBACK *qdlWriteProc)(void *context, const void *buffer, uint32_t *count,
                                             uint32_t *error);
/** Moves the position by a QD_SEEK_ origin and offset. */
typedef uint32_t (QD_CALLBACK *qdlSeekProc)(void *context, uint32_t origin, int32_t offset,
                                            uint32_t *error);
/** Returns the current position. */
typedef uint32_t (QD_CALLBACK *qdlTellProc)(void *context, uint32_t *error);
/** Not called by the library. */
typedef uint32_t (QD_CALLBACK *qdlAuxProc)(void *context, uint32_t value, uint32_t *error);

#pragma pack(push, 1)

/** A host stream: a context and the callbacks over it. */
typedef struct qdlStream {
    void *context;  /**< passed to every callback */
    void *reserved; /**< never read by the library */
    qdlOpenProc open; /**< may be null unless the export needs it */
    qdlCloseProc close; /**< may be null unless the export needs it */
    qdlReadProc read; /**< required by exports that read */
    qdlWriteProc write; /**< required by exports that write */
    qdlSeekProc seek; /**< required by exports that read */
    qdlTellProc tell; /**< required by exports that read */
    qdlAuxProc aux; /**< forwarded, never called */
} qdlStream;

#pragma pack(pop)

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(qdlStream) == 36, qdlStream_size);
QD_LAYOUT_ASSERT(offsetof(qdlStream, open) == 8, qdlStream_open);
QD_LAYOUT_ASSERT(offsetof(qdlStream, tell) == 28, qdlStream_tell);
QD_LAYOUT_ASSERT(offsetof(qdlStream, aux) == 32, qdlStream_aux);
#endif

/** @} */

/**
 * @ingroup parsing
 * Reports the newest property-record identifier this library knows: 273
 * (0x111, the code that ends a property stream).
 * @param id receives 273; required.
 * @retval QD_OK            *id is 273.
 * @retval QD_E_INVALID_ARG id is null; nothing is written.
 */
QD_EXPORT uint32_t QD_API QDParseGetRttIDLatest(uint16_t *id);

/* ---- Records ----------------------------------------------------------- */

/** @defgroup records Records
 * The packed records that cross the interface.
 *
 * Conventions for every record below: packed, fields in the host's byte
 * order unless a comment says otherwise; a byte-order flag is one byte,
 * 0 for "II" (little-endian) and 1 for "MM" (big-endian). Pointer fields are
 * pointer-sized; every other field has the same width on every target.
 * @{
 */

QD_LAYOUT_ASSERT(sizeof(float) == 4, float_is_32_bits);

#pragma pack(push, 1)

/** A heap that holds a picture's properties, passed by value. Only `block`
 * (a library memory block) is ever released, by qdParseFreeHeapObject;
 * copies of a descriptor share that block, so release exactly one of them. */
typedef struct HeapObject {
    uint8_t *block;        /**< library block holding header and heap */
    uint32_t headerLength; /**< heap-file header in front of the heap; 0 for a bare heap */
    uint32_t version;      /**< the heap-file header's version word */
    char type[5];          /**< "CCDR", "JPGM" or "TIFP" and a zero byte */
    uint8_t *heap;         /**< block + headerLength */
    uint32_t heapLength; /**< bytes of the heap from `heap` on */
    uint16_t bigEndian;    /**< 1 when the heap's numbers are big-endian */
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

/**
 * One entry of a record entry list: consecutive entries ended by one of type
 * 0. An entry whose type is a nested-heap kind ((type & 0x3800) is 0x2800 or
 * 0x3000) is followed by the entries for inside that heap and their own
 * type-0 terminator, to any depth (at most 64). Records match on
 * (type & 0x3FFF). An entry whose record is absent gets found 0.
 * _GetHeapRecordEntryPtr answers a data entry only when its `found` is set on
 * entry (one with found 0 is left untouched); qdParseHeapObject answers every
 * entry and sets found 1 for each record present.
 * qdParseHeapObject copies into `pointer` (a buffer of `size` bytes), or with
 * size 0 stores a library block of the data in the void* that `pointer`
 * addresses (release it with qdParseFreeApp1Info through an ExtensionInfo);
 * `size` returns the bytes delivered. _GetHeapRecordEntryPtr sets `pointer`
 * and `size` to where the data lies inside the heap. For a merge, entries
 * with found 1 carry the new data in `pointer` and `size`.
 */
typedef struct RecordEntry {
    uint16_t type; /**< record type; 0 ends a list */
    uint16_t found; /**< request flag in, answer out */
    void *pointer; /**< data buffer, or where the data lies, by call */
    uint32_t size; /**< bytes of `pointer`; returns the bytes delivered */
} RecordEntry;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(RecordEntry) == 12, RecordEntry_size);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, type) == 0, RecordEntry_type);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, found) == 2, RecordEntry_found);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, pointer) == 4, RecordEntry_pointer);
QD_LAYOUT_ASSERT(offsetof(RecordEntry, size) == 8, RecordEntry_size_field);
#endif

/** Operations of an IFD query list (IfdQuery.op). */
#define IFDQ_END      0u /**< end of the list */
#define IFDQ_READ     1u /**< copy the value of `tag` in the current IFD */
#define IFDQ_LOCATE   2u /**< report type, count and value field of `tag` */
#define IFDQ_NEXT_IFD 3u /**< move to the next IFD of the chain */
#define IFDQ_ENTER    4u /**< descend into the sub-IFD that `tag` points to */
#define IFDQ_LEAVE    5u /**< close the scope of the matching IFDQ_ENTER */
#define IFDQ_PLACEHOLDER 0xFFFFu /**< qdParseCreateExifProperty only: passed over */

/**
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
    uint16_t op;       /**< IFDQ_... */
    uint16_t tag;      /**< in host order */
    uint16_t type;     /**< TIFF field type; set to the entry's type when found */
    uint16_t found;    /**< 1 when the request was satisfied */
    uintptr_t data;    /**< an address or a 32-bit value, by operation */
    uint32_t size; /**< buffer size or count, by operation; returns the bytes stored */
    uint32_t position; /**< internal use of the stream walkers */
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

/**
 * A TIFF structure held in memory: an Exif property buffer, or the Exif data
 * of a file. When the library filled it, `segment` is a library block that
 * qdParseFreeExifBuffer releases. `ifdOffset` 0 means not yet known: the
 * first query reads the TIFF header and stores IFD0's offset and the byte
 * order here. Queries stay inside `tiff` and `tiffSize`, which are trusted:
 * they are not checked against the memory behind them.
 */
typedef struct TiffBlockInfo {
    uint8_t *segment;        /**< whole segment payload ("Exif\0\0" or "LoLe\0\0" first) */
    uintptr_t segmentOffset; /**< file position of the segment's 0xFF byte, or 0 */
    uint8_t *tiff;           /**< first byte of the TIFF header */
    uint32_t tiffSize;       /**< bytes available from `tiff` on */
    uint8_t byteOrder;       /**< 0 "II", 1 "MM" */
    uint32_t ifdOffset;      /**< IFD that queries start from, from `tiff`; 0 = unknown */
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

/** The first JPEG frame header (SOF) of a file; all zero when none was found.
 * The reserved bytes keep the 32-bit field at offset 4. */
typedef struct JpegSofInfo {
    uint8_t found;        /**< 1 when filled */
    uint8_t reserved1[3]; /**< padding */
    uint32_t position;    /**< stream position of the segment's length field */
    uint16_t length;      /**< the segment's length field */
    uint16_t components; /**< number of colour components */
    uint16_t width; /**< frame width in pixels */
    uint16_t height; /**< frame height in pixels */
} JpegSofInfo;

QD_LAYOUT_ASSERT(sizeof(JpegSofInfo) == 16, JpegSofInfo_size);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, found) == 0, JpegSofInfo_found);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, position) == 4, JpegSofInfo_position);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, length) == 8, JpegSofInfo_length);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, components) == 10, JpegSofInfo_components);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, width) == 12, JpegSofInfo_width);
QD_LAYOUT_ASSERT(offsetof(JpegSofInfo, height) == 14, JpegSofInfo_height);

/** A JFIF APP0 header; the library clears and fills only the first 18 bytes. */
typedef struct JfifInfo {
    uint8_t found;        /**< 1 when filled */
    uint8_t reserved1[3]; /**< padding */
    uint32_t position;    /**< stream position of the segment's length field */
    uint16_t length;      /**< the segment's length field */
    uint16_t version;     /**< major * 256 + minor */
    uint16_t units; /**< density units: 0 none, 1 per inch, 2 per cm */
    uint16_t xDensity; /**< horizontal density */
    uint16_t yDensity; /**< vertical density */
    uint8_t reserved2[2]; /**< never written by the library */
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

/** ICC profile and IIM data taken from a file (for a TIFF RAW file: the blocks
 * of its private tag 0x08C5 and of tag 0x83BB). Both buffers are library
 * blocks; qdParseFreeOutPutInfo releases them and zeroes the record. */
typedef struct OutPutInfo {
    uint8_t *iccProfile; /**< library block with the ICC profile, or null */
    uint32_t iccProfileSize; /**< bytes in `iccProfile` */
    uint8_t *iim; /**< library block with the IIM data, or null */
    uint32_t iimSize; /**< bytes in `iim` */
} OutPutInfo;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(OutPutInfo) == 16, OutPutInfo_size);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iccProfile) == 0, OutPutInfo_iccProfile);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iccProfileSize) == 4, OutPutInfo_iccProfileSize);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iim) == 8, OutPutInfo_iim);
QD_LAYOUT_ASSERT(offsetof(OutPutInfo, iimSize) == 12, OutPutInfo_iimSize);
#endif

/** A library block and its length: whole APP2/APP13 segments, or a complete
 * APP1 segment. qdParseFreeApp1Info (= qdParseFreeExtensionInfo) releases it. */
typedef struct ExtensionInfo {
    uint8_t *buffer; /**< library block, or null */
    uint32_t size; /**< bytes in `buffer` */
} ExtensionInfo;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(ExtensionInfo) == 8, ExtensionInfo_size);
QD_LAYOUT_ASSERT(offsetof(ExtensionInfo, buffer) == 0, ExtensionInfo_buffer);
QD_LAYOUT_ASSERT(offsetof(ExtensionInfo, size) == 4, ExtensionInfo_size_field);
#endif

/** Image description from a TIFF RAW file's IFD0. */
typedef struct TiffImageInfo {
    uint32_t colour; /**< 1 when PhotometricInterpretation is 1 or 2 */
    uint32_t rgb;    /**< 1 when PhotometricInterpretation is 2 */
    uint16_t width; /**< ImageWidth of IFD0 */
    uint16_t height; /**< ImageLength of IFD0 */
} TiffImageInfo;

QD_LAYOUT_ASSERT(sizeof(TiffImageInfo) == 12, TiffImageInfo_size);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, colour) == 0, TiffImageInfo_colour);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, rgb) == 4, TiffImageInfo_rgb);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, width) == 8, TiffImageInfo_width);
QD_LAYOUT_ASSERT(offsetof(TiffImageInfo, height) == 10, TiffImageInfo_height);

/** The baseline frame of a JPEG file (QDParseGetJPEGInfo). */
typedef struct JpegImageInfo {
    uint16_t width; /**< frame width in pixels */
    uint16_t height; /**< frame height in pixels */
    uint16_t components; /**< number of colour components */
    uint16_t sampling; /**< first component: horizontal * 16 + vertical */
} JpegImageInfo;

QD_LAYOUT_ASSERT(sizeof(JpegImageInfo) == 8, JpegImageInfo_size);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, width) == 0, JpegImageInfo_width);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, height) == 2, JpegImageInfo_height);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, components) == 4, JpegImageInfo_components);
QD_LAYOUT_ASSERT(offsetof(JpegImageInfo, sampling) == 6, JpegImageInfo_sampling);

/**
 * Description of the main image. The first 48 bytes have the layout of
 * ExifImageInfo and QdThumbnailInfo. Image format codes: 0 none; 1, 2, 3, 9
 * from a heap; 5 Exif JPEG; 6 the JPEG file itself as thumbnail; 8 Exif
 * TIFF; 10 auxiliary image; 11 raw image in an Exif TIFF.
 */
typedef struct QdImageInfo {
    char model[32];                 /**< camera model, zero-terminated */
    uint8_t format;                 /**< image format code; 0 = no image */
    uint8_t bitsPerSample; /**< bits per sample */
    uint8_t bitsPerPixel; /**< bits per pixel */
    uint8_t colour;                 /**< nonzero for a colour image */
    uint16_t width; /**< width in pixels */
    uint16_t height; /**< height in pixels */
    float aspect;                   /**< pixel aspect ratio */
    uint16_t xResolution;           /**< dots per inch */
    uint16_t yResolution; /**< dots per inch */
    float compressedBitsPerPixel;   /**< file size * 8 / (width * height) */
    uint8_t dataCode;               /**< 1, 2 or 3 */
    uint16_t fullWidth;             /**< full-view (developed) image */
    uint16_t fullHeight; /**< full-view height */
    float fullAspect; /**< full-view pixel aspect ratio */
    uint16_t fullXResolution; /**< full-view dots per inch */
    uint16_t fullYResolution; /**< full-view dots per inch */
    uint32_t pathValues[3];         /**< 0xFFFFFFFF when not given */
    uint8_t flags;                  /**< bit 0x02 set by the parse paths */
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

/**
 * The image description that Exif writing and replacement read: the first
 * 48 bytes of QdImageInfo. When `valid` (the image format code) is 0 the
 * whole record is ignored. bitsPerSample, bitsPerPixel, colour and aspect
 * are used only when rewriting a heap.
 */
typedef struct ExifImageInfo {
    char model[32]; /**< camera model, zero-terminated */
    uint8_t valid; /**< image format code; 0 = ignore the record */
    uint8_t bitsPerSample; /**< bits per sample */
    uint8_t bitsPerPixel; /**< bits per pixel */
    uint8_t colour; /**< nonzero for a colour image */
    uint16_t width; /**< image width in pixels */
    uint16_t height; /**< image height in pixels */
    float aspect;          /**< its bit pattern is copied as is */
    uint16_t xResolution;  /**< dots per inch */
    uint16_t yResolution; /**< dots per inch */
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

/** Description of the thumbnail: the first 48 bytes of QdImageInfo. */
typedef struct QdThumbnailInfo {
    char model[32]; /**< camera model, zero-terminated */
    uint8_t format;        /**< image format code; 0 = no thumbnail */
    uint8_t bitsPerSample; /**< bits per sample */
    uint8_t bitsPerPixel; /**< bits per pixel */
    uint8_t colour; /**< nonzero for a colour image */
    uint16_t width; /**< width in pixels */
    uint16_t height; /**< height in pixels */
    float aspect; /**< pixel aspect ratio */
    uint16_t xResolution; /**< dots per inch */
    uint16_t yResolution; /**< dots per inch */
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

/** An additional image of an Exif file (format 10): the thumbnail layout and
 * three values from the maker note. Also the second image record that
 * QDParseReplaceProperties2 takes. */
typedef struct QdAuxImageInfo {
    char model[32]; /**< camera model, zero-terminated */
    uint8_t format; /**< image format code (10) */
    uint8_t bitsPerSample; /**< bits per sample */
    uint8_t bitsPerPixel; /**< bits per pixel */
    uint8_t colour; /**< nonzero for a colour image */
    uint16_t width; /**< width in pixels */
    uint16_t height; /**< height in pixels */
    float aspect; /**< pixel aspect ratio */
    uint16_t xResolution; /**< dots per inch */
    uint16_t yResolution; /**< dots per inch */
    uint16_t extra[3]; /**< three values from the maker note */
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

/** Capture data. */
typedef struct ExifCaptureInfo {
    int32_t time;          /**< seconds since 1970-01-01 UTC; 0 = unknown */
    uint32_t fileNumber;   /**< 0xFFFFFFFF = not given */
    char owner[32];        /**< zero-terminated */
    char imageType[32];    /**< zero-terminated */
} ExifCaptureInfo;

QD_LAYOUT_ASSERT(sizeof(ExifCaptureInfo) == 72, ExifCaptureInfo_size);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, time) == 0, ExifCaptureInfo_time);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, fileNumber) == 4, ExifCaptureInfo_fileNumber);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, owner) == 8, ExifCaptureInfo_owner);
QD_LAYOUT_ASSERT(offsetof(ExifCaptureInfo, imageType) == 40, ExifCaptureInfo_imageType);

/** Four exposure values and two settings. Each field has a value that means
 * absent; the parse exports start from those. */
typedef struct ExifShotValues {
    float aperture;             /**< APEX Av; -1.0 = absent */
    float shutterSpeed;         /**< APEX Tv; 100.0 = absent */
    float exposureCompensation; /**< EV; 100.0 = absent */
    float additionalEv;         /**< kept in the maker note only; -1.0 = absent */
    uint16_t settingWord;       /**< kept divided by 100 in the maker note; 0xFFFF = absent */
    uint8_t settingFlag;        /**< two-state: 1 or 0; 0xFF = absent */
} ExifShotValues;

QD_LAYOUT_ASSERT(sizeof(ExifShotValues) == 19, ExifShotValues_size);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, aperture) == 0, ExifShotValues_aperture);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, shutterSpeed) == 4, ExifShotValues_shutterSpeed);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, exposureCompensation) == 8, ExifShotValues_expComp);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, additionalEv) == 12, ExifShotValues_additionalEv);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, settingWord) == 16, ExifShotValues_settingWord);
QD_LAYOUT_ASSERT(offsetof(ExifShotValues, settingFlag) == 18, ExifShotValues_settingFlag);

/** A typed property record: `size` payload bytes follow this 6-byte head
 * directly, multi-byte payload fields little-endian. Writers take lists as
 * null-terminated arrays of pointers; the parse exports write the same
 * framing to their property stream. Codes 0, above 0x111 and unknown codes
 * are skipped; payload sizes are not checked beyond `size`. */
typedef struct PropertyRecord {
    uint16_t code; /**< record code; 0x111 ends a property stream */
    uint32_t size; /**< payload bytes that follow */
} PropertyRecord;

QD_LAYOUT_ASSERT(sizeof(PropertyRecord) == 6, PropertyRecord_size);
QD_LAYOUT_ASSERT(offsetof(PropertyRecord, code) == 0, PropertyRecord_code);
QD_LAYOUT_ASSERT(offsetof(PropertyRecord, size) == 2, PropertyRecord_size_field);

/** One IIM dataset in exchange form: `length` data bytes follow this 6-byte
 * head directly. Lists are null-terminated arrays of pointers. */
typedef struct IimRecord {
    uint8_t record; /**< IIM record number */
    uint8_t dataset; /**< dataset number within the record */
    uint32_t length;   /**< little-endian */
} IimRecord;

QD_LAYOUT_ASSERT(sizeof(IimRecord) == 6, IimRecord_size);
QD_LAYOUT_ASSERT(offsetof(IimRecord, record) == 0, IimRecord_record);
QD_LAYOUT_ASSERT(offsetof(IimRecord, dataset) == 1, IimRecord_dataset);
QD_LAYOUT_ASSERT(offsetof(IimRecord, length) == 2, IimRecord_length);

/** A maker note built alone. `data` is a library block released by
 * qdParseFreeMakerNoteBuffer; offsets inside it count from the TIFF header of
 * the block it was built in, where it stood at `offset`. */
typedef struct MakerNoteBuffer {
    uint8_t *data; /**< library block holding the maker note */
    uint32_t size; /**< bytes in `data` */
    uint32_t offset; /**< where it stood from the TIFF header it was built in */
    uint8_t byteOrder; /**< set by the caller: 0 little-endian, nonzero big-endian */
} MakerNoteBuffer;

#if QD_PTR32
QD_LAYOUT_ASSERT(sizeof(MakerNoteBuffer) == 13, MakerNoteBuffer_size);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, data) == 0, MakerNoteBuffer_data);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, size) == 4, MakerNoteBuffer_size_field);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, offset) == 8, MakerNoteBuffer_offset);
QD_LAYOUT_ASSERT(offsetof(MakerNoteBuffer, byteOrder) == 12, MakerNoteBuffer_byteOrder);
#endif

/** Where the maker note of an Exif file lies. */
typedef struct MakerNoteLocation {
    uint32_t length; /**< bytes of the maker note */
    uint8_t byteOrder; /**< of the TIFF data: 0 "II", 1 "MM" */
    uint32_t offset;   /**< Exif TIFF: file offset; Exif JPEG: from the APP1 TIFF header */
} MakerNoteLocation;

QD_LAYOUT_ASSERT(sizeof(MakerNoteLocation) == 9, MakerNoteLocation_size);
QD_LAYOUT_ASSERT(offsetof(MakerNoteLocation, length) == 0, MakerNoteLocation_length);
QD_LAYOUT_ASSERT(offsetof(MakerNoteLocation, byteOrder) == 4, MakerNoteLocation_byteOrder);
QD_LAYOUT_ASSERT(offsetof(MakerNoteLocation, offset) == 5, MakerNoteLocation_offset);

/** Thumbnail description that qdParseCreateHeapObjectEx2 stores in the heap
 * (record 0x183D), each field widened to 32 bits; the aspect is stored as
 * its integer part. */
typedef struct HeapObjectSupplement {
    uint32_t word0;        /**< stored as is */
    uint8_t format; /**< image format code */
    uint8_t bitsPerSample; /**< bits per sample */
    uint8_t bitsPerPixel; /**< bits per pixel */
    uint8_t colour; /**< nonzero for colour */
    uint16_t width; /**< thumbnail width */
    uint16_t height; /**< thumbnail height */
    float aspect; /**< pixel aspect ratio; its integer part is stored */
    uint16_t xResolution; /**< dots per inch */
    uint16_t yResolution; /**< dots per inch */
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

/** Format chunk of a WAVE stream, as stored (block align is not copied). */
typedef struct QdWaveInfo {
    uint16_t formatTag; /**< format tag (1 for PCM) */
    uint16_t channels; /**< number of channels */
    uint32_t sampleRate; /**< samples per second */
    uint32_t bytesPerSecond; /**< average bytes per second */
    uint16_t bitsPerSample; /**< bits per sample */
} QdWaveInfo;

QD_LAYOUT_ASSERT(sizeof(QdWaveInfo) == 14, QdWaveInfo_size);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, formatTag) == 0, QdWaveInfo_formatTag);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, channels) == 2, QdWaveInfo_channels);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, sampleRate) == 4, QdWaveInfo_sampleRate);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, bytesPerSecond) == 8, QdWaveInfo_bytesPerSecond);
QD_LAYOUT_ASSERT(offsetof(QdWaveInfo, bitsPerSample) == 12, QdWaveInfo_bitsPerSample);

/** Sound properties of a memo in the cameras' fixed format (11000 one-byte
 * samples per second). */
typedef struct QdSoundProperties {
    uint32_t value;      /**< QDEstimateSoundProperties' `value`; else untouched */
    uint32_t fileNumber; /**< DCF file number from the name; else untouched */
    float duration;      /**< seconds */
    uint32_t sampleRate; /**< always 11000 */
    uint8_t fixed[2];    /**< always 1, 1 */
    uint8_t bitsPerSample; /**< always 8 */
} QdSoundProperties;

QD_LAYOUT_ASSERT(sizeof(QdSoundProperties) == 19, QdSoundProperties_size);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, value) == 0, QdSoundProperties_value);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, fileNumber) == 4, QdSoundProperties_fileNumber);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, duration) == 8, QdSoundProperties_duration);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, sampleRate) == 12, QdSoundProperties_sampleRate);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, fixed) == 16, QdSoundProperties_fixed);
QD_LAYOUT_ASSERT(offsetof(QdSoundProperties, bitsPerSample) == 18, QdSoundProperties_bits);

#pragma pack(pop)

/** @} */

/* ---- Constants of single exports --------------------------------------- */

/** @ingroup conformance
 * QDParseJpegCheck: not an error. With *portrait 1 the file conforms and is a
 * portrait picture as the camera writes it; with *portrait 0 a tag failed its
 * rule and *failingTag names it (0xFFFF for a missing IFD). */
#define QD_CHECK_TAG_OR_PORTRAIT 0x00000051u

/** @addtogroup iim
 * @{ */
/* QDParseMakePreserveIIMInfo: what `source` points to. */
#define QD_IIM_SOURCE_STREAM 1u /**< a qdlStream holding IimRecords */
#define QD_IIM_SOURCE_LIST   2u /**< a null-terminated array of IimRecord pointers */
/** @} */

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

/** @defgroup heap Heap objects and file queries
 * Heap records, heap objects (fetch, build, merge, release) and the queries
 * that name a file's camera, one property or its maker note.
 * @{ */

/**
 * Reports where the records named by the entry list at *cursor lie inside
 * `heap`, without copying: each requested entry gets `pointer` and `size` of its
 * data inside the heap, or found 0. Advances *cursor past the list (and past
 * nested lists). Uses no stream.
 *
 * The heap's tables are byte-swapped in place during the call, so the heap
 * must be writable and not used by another call at the same time.
 * @param heap   a heap object by value; its `heap` must be set.
 * @param cursor the caller's cursor into a record entry list; cursor and *cursor
 *               are required.
 * @return An internal status in the low 16 bits, not a result code: 0 on
 *         success, 0x6020 when cursor, *cursor or heap.heap is null, 0x6045 for
 *         a heap whose tables are inconsistent, 0x6015 when memory ran out. The
 *         upper 16 bits carry no meaning. Entries before a failure stay filled.
 */
QD_EXPORT uint32_t QD_API _GetHeapRecordEntryPtr(HeapObject heap, RecordEntry **cursor);

/**
 * Copies the records named by the entry list at *cursor out of `heap` into the
 * entries' buffers, converting the byte order, and advances *cursor past the
 * list. An entry with `size` > 0 gets at most `size` bytes copied into
 * `pointer`; an entry with size 0 gets a library block stored in the void* that
 * `pointer` addresses (the caller releases it with qdParseFreeApp1Info through
 * an ExtensionInfo). When that allocation fails or the record is longer than
 * 65535 bytes, no block is stored but `size` still reports the record's
 * length; records of other kinds than bytes, text and 16/32-bit numbers
 * deliver nothing (size 0). A text cut to a buffer of 4 or more bytes ends in
 * "..." and a zero byte. Every record present gets found 1 and `size` the
 * bytes delivered; absent records get found 0. Uses no stream.
 * @param heap   a heap object by value; its `heap` must be set.
 * @param cursor the caller's cursor into a record entry list; required.
 * @retval QD_OK            every entry was answered (absent records are not failures).
 * @retval QD_E_INVALID_ARG cursor, *cursor or heap.heap is null, or heaps nested
 *                          more than 64 deep.
 * @retval QD_E_CORRUPT     a table lies outside the heap or does not tile its data area.
 * @retval QD_E_NO_MEMORY   the table check could not allocate.
 * Entries answered before a failure keep what they received.
 */
QD_EXPORT uint32_t QD_API qdParseHeapObject(HeapObject heap, RecordEntry **cursor);

/**
 * Releases heap.block when it is non-null. Copies of one descriptor share
 * its block: release exactly one of them.
 * @param heap the heap object, by value.
 * @retval QD_OK always; a block that fails its ownership check is left alone.
 */
QD_EXPORT uint32_t QD_API qdParseFreeHeapObject(HeapObject heap);

/**
 * Builds a new image-properties heap ("JPGM" form) from `source` and the
 * caller's values. `source` (may be null) is an existing file whose heap
 * supplies the starting properties; it is recognised through read, seek and
 * tell but neither opened nor closed here. An Exif file, or one that
 * recognition refuses as unsupported, counts as no source; other recognition
 * failures are returned. The firmware text (where the source has one) becomes
 * 32 zero bytes; the settings arrays are not written.
 * @param source      the host-opened source file, or null.
 * @param imageInfo   image description to store, or null.
 * @param captureInfo capture data to store, or null.
 * @param shotValues  exposure values to store (absent values are skipped), or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         receives the heap object; required.
 * @retval QD_OK            *out owns a new block: release it with qdParseFreeHeapObject.
 * @retval QD_E_INVALID_ARG out is null.
 * @retval QD_E_NO_MEMORY   an allocation failed (what was built is released).
 * @retval QD_E_CORRUPT, QD_E_FAILED a recognised source could not be read.
 * @return A host error kept while reading the source is returned as the host
 *         stored it. On any failure *out is not written.
 */
QD_EXPORT uint32_t QD_API qdParseCreateHeapObject(const qdlStream *source,
                                                  const QdImageInfo *imageInfo,
                                                  const ExifCaptureInfo *captureInfo,
                                                  const ExifShotValues *shotValues,
                                                  PropertyRecord **records, HeapObject *out);

/**
 * As qdParseCreateHeapObject, but the firmware text becomes
 * "Firmware Version 00.00" (where the source heap has the record) and the
 * camera-settings and shot-information arrays are written when imageInfo is
 * given and any source set them. Results and outputs as for
 * qdParseCreateHeapObject.
 * @param source      the host-opened source file, or null.
 * @param imageInfo   image description to store, or null.
 * @param captureInfo capture data to store, or null.
 * @param shotValues  exposure values to store, or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         receives the heap object; required (QD_E_INVALID_ARG).
 */
QD_EXPORT uint32_t QD_API qdParseCreateHeapObjectEx(const qdlStream *source,
                                                    const QdImageInfo *imageInfo,
                                                    const ExifCaptureInfo *captureInfo,
                                                    const ExifShotValues *shotValues,
                                                    PropertyRecord **records, HeapObject *out);

/**
 * As qdParseCreateHeapObjectEx, and stores `supplement` as the heap's
 * thumbnail description (record 0x183D). Results and outputs as for
 * qdParseCreateHeapObject.
 * @param source      the host-opened source file, or null.
 * @param imageInfo   image description to store, or null.
 * @param captureInfo capture data to store, or null.
 * @param shotValues  exposure values to store, or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         receives the heap object; required (QD_E_INVALID_ARG).
 * @param supplement  thumbnail description to store, or null for none.
 */
QD_EXPORT uint32_t QD_API qdParseCreateHeapObjectEx2(const qdlStream *source,
                                                     const QdImageInfo *imageInfo,
                                                     const ExifCaptureInfo *captureInfo,
                                                     const ExifShotValues *shotValues,
                                                     PropertyRecord **records, HeapObject *out,
                                                     const HeapObjectSupplement *supplement);

/**
 * Writes into *out a new heap object: `source` with the entries marked found
 * replaced or added (nested heaps merged level by level), in `source`'s byte
 * order and version. Records of `source` that the list does not name are kept.
 * Uses no stream; `source` is neither changed nor released.
 * @param source  the starting heap, or null for an empty little-endian heap.
 * @param entries record entry list; entries with found 1 carry the new data in
 *                `pointer` and `size`; required.
 * @param out     receives the merged heap object; required.
 * @retval QD_OK            *out owns a new block: release it with qdParseFreeHeapObject.
 * @retval QD_E_INVALID_ARG entries or out is null, source->heap is null, or
 *                          the result would hold too many records.
 * @retval QD_E_CORRUPT     the source heap fails its table checks.
 * @retval QD_E_NO_MEMORY   the merged heap could not be allocated.
 * @retval QD_E_FAILED      any other inconsistency met while writing.
 * On failure *out is not written.
 */
QD_EXPORT uint32_t QD_API qdParseMergePropertiesIntoHeapObject(const HeapObject *source,
                                                              const RecordEntry *entries,
                                                              HeapObject *out);

/**
 * Fetches the heap object of a heap file, a JPEG with a heap in APP0 or a
 * TIFF RAW file. Needs read, seek and tell; the stream is neither opened nor
 * closed here (the host does both).
 * @param stream    the host-opened file.
 * @param heapClass receives 1 (heap file), 2 (JPEG) or 3 (TIFF RAW) once the
 *                  file is recognised as one of those; else untouched. May be null.
 * @param out       receives the heap object; required.
 * @param sof       receives the JPEG frame header found while recognising
 *                  (zeros when none); required.
 * @param jfif      receives the JFIF header found (zeros when none); required.
 * @param tiff      receives the TIFF RAW image description (zeros when none);
 *                  required.
 * @retval QD_OK            *out owns the file's heap: release it with qdParseFreeHeapObject.
 * @retval QD_E_INVALID_ARG a required pointer or callback is missing; nothing is written.
 * @retval QD_E_UNSUPPORTED an Exif JPEG or Exif TIFF, or no file of a known kind.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED recognition failed.
 * @return A host error kept during recognition is returned as the host stored it.
 *         Whenever recognition ran, *sof, *jfif and *tiff are overwritten; *out
 *         is written only on success.
 */
QD_EXPORT uint32_t QD_API qdParseGetPropHeapObject(const qdlStream *stream, uint8_t *heapClass,
                                                   HeapObject *out, JpegSofInfo *sof,
                                                   JfifInfo *jfif, TiffImageInfo *tiff);

/**
 * Fetches the file's heap object (as qdParseGetPropHeapObject) with its image
 * description set to the developed picture: the full-view width, height and
 * aspect of imageInfo go into record 0x1810 (its flag bits 8-15 cleared) and
 * the data code in 0x1803 is updated, merged into a new heap object. Without
 * 0x1810 the file's heap object is returned unchanged. Needs read, seek and
 * tell; the stream is neither opened nor closed here.
 * @param stream    the host-opened file.
 * @param imageInfo the developed picture (full-view fields); required.
 * @param unused1   not read.
 * @param unused2   not read.
 * @param out       receives the heap object; required.
 * @retval QD_OK            *out owns its block: release it with qdParseFreeHeapObject.
 * @retval QD_E_INVALID_ARG a required pointer or callback is missing.
 * @retval QD_E_UNSUPPORTED an Exif file or a file of no known kind.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED reading or merging failed.
 * @return A host error kept during recognition is returned as the host stored
 *         it. On failure *out is not written.
 */
QD_EXPORT uint32_t QD_API qdParseGetHeapObjectDeveloped(const qdlStream *stream,
                                                        const QdImageInfo *imageInfo,
                                                        uint32_t unused1, uint32_t unused2,
                                                        HeapObject *out);

/**
 * Reports whether the developed state of the file's heap can be cleared, by
 * building the cleared record in memory. Nothing is written: neither the
 * stream nor a result is kept. Needs read, seek and tell; the stream is
 * neither opened nor closed here.
 * @param stream  the host-opened file.
 * @param unused1 not read.
 * @param unused2 not read.
 * @retval QD_OK            the state can be cleared.
 * @retval QD_E_INVALID_ARG the stream or one of its callbacks is missing.
 * @retval QD_E_UNSUPPORTED an Exif file, no known kind, or records 0x1803 or 0x1810 absent.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED reading or merging failed.
 * @return A host error kept during recognition is returned as the host stored it.
 */
QD_EXPORT uint32_t QD_API QDParseSetDeveloped(const qdlStream *stream, uint16_t unused1,
                                              uint16_t unused2);

/**
 * Reports the image format code, camera model and maker of a file. A TIFF of
 * no known kind still answers with its Make and Model. Needs read, seek and
 * tell; opened with QD_OPEN_READ and closed.
 * @param stream     the file.
 * @param formatCode receives the image format code, or null.
 * @param model      a 32-byte buffer for the model, zero-terminated, or null.
 * @param maker      a 32-byte buffer for the maker, zero-terminated, or null.
 * @retval QD_OK              the outputs hold the answer.
 * @retval QD_E_INVALID_ARG   all three outputs null, or a callback missing; nothing is written.
 * @retval QD_E_NOT_APPLICABLE another maker's heap file, or a file that names no camera
 *                            (the outputs are then zeros).
 * @retval QD_E_UNSUPPORTED   a heap without a usable maker and model record.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED recognition failed.
 * @return A host error (open, recognition, close) is returned as the host
 *         stored it. Once the stream is open every given output is written,
 *         on failure with what was found so far (zeros when nothing was).
 */
QD_EXPORT uint32_t QD_API qdParseGetFileType(const qdlStream *stream, uint8_t *formatCode,
                                             char *model, char *maker);

/**
 * Writes the value of one property to `destination`: opened with
 * QD_OPEN_WRITE (where it has open), written whole and closed. `propertyId`
 * names the property: a heap record type or an Exif tag, its type, where it
 * lies and how it is converted. `stream` needs read, seek and tell; it is
 * opened with QD_OPEN_READ and closed.
 * @param stream      the file.
 * @param fileType    receives the file type code once the file is recognised; may be null.
 * @param propertyId  the property identifier.
 * @param destination receives the value; required, with write.
 * @retval QD_OK              the value was written.
 * @retval QD_E_INVALID_ARG   stream, destination or a callback is missing.
 * @retval QD_E_NOT_APPLICABLE an identifier this file cannot answer, or an absent property.
 * @retval QD_E_OTHER_MAKER   a maker-note property of another maker's file.
 * @retval QD_E_UNSUPPORTED   a file of a type that holds no properties.
 * @retval QD_E_NO_MEMORY     the value could not be copied.
 * @retval QD_E_CORRUPT, QD_E_FAILED recognition failed.
 * @return Host errors of either stream are returned as the host stored them; a
 *         destination that took nothing gives QD_E_SHORT_WRITE.
 */
QD_EXPORT uint32_t QD_API QDParseGetSingleProperty(const qdlStream *stream, uint8_t *fileType,
                                                   uint32_t propertyId,
                                                   const qdlStream *destination);

/**
 * Locates the camera maker's maker note of an Exif JPEG or Exif TIFF and,
 * when `destination` is given, writes its bytes there (opened with
 * QD_OPEN_WRITE, written, closed). `stream` needs read, seek and tell; it is
 * opened with QD_OPEN_READ and closed.
 * @param stream      the file.
 * @param location    receives length, byte order and offset of the maker note; required.
 * @param destination receives the maker note's bytes, or null; when given it
 *                    needs open, write and close.
 * @retval QD_OK              *location is filled (and the bytes written).
 * @retval QD_E_INVALID_ARG   stream, location or a callback is missing.
 * @retval QD_E_NOT_APPLICABLE not an Exif file, or no Make or maker note.
 * @retval QD_E_OTHER_MAKER   Make names another maker.
 * @retval QD_E_OUT_OF_RANGE  the maker note runs past the end of the stream.
 * @retval QD_E_NO_MEMORY     no buffer for the copy.
 * @retval QD_E_CORRUPT, QD_E_FAILED recognition or reading failed.
 * @return Host errors of either stream are returned as the host stored them.
 *         *location is not cleared: it is written once the maker note is found
 *         (before the copy) and left as it was on every earlier failure.
 */
QD_EXPORT uint32_t QD_API qdParseGetDCFMakerNote(const qdlStream *stream,
                                                 MakerNoteLocation *location,
                                                 const qdlStream *destination);

/** @} */

/** @defgroup ifd IFD queries and JPEG reading
 * IFD query lists over TIFF blocks in memory, the JPEG frame, and the Exif
 * block builder.
 * @{ */

/**
 * Runs an IFD query list over a TIFF block in memory and fills the answers
 * into the list (found, type, data, size). Absent tags and malformed entries
 * leave their request unfound; they are not failures. Uses no stream.
 * @param block the TIFF block; required. When its `ifdOffset` is 0 the first
 *              query reads the TIFF header and stores `byteOrder` and `ifdOffset`.
 * @param list  the query list, ended by IFDQ_END; required.
 * @retval QD_OK            the list was walked.
 * @retval QD_E_INVALID_ARG block or list is null, an unknown op, or an
 *                          IFDQ_ENTER without its IFDQ_LEAVE.
 * @retval QD_E_UNSUPPORTED no "II"/"MM" header, or the starting IFD lies outside the
 *                          block; no request is marked.
 * A READ request with size 0 whose block cannot be allocated stays unfound. On
 * failure the requests answered before it keep their answers.
 */
QD_EXPORT uint32_t QD_API qdParseExifProperty(TiffBlockInfo *block, IfdQuery *list);

/**
 * Describes the first baseline frame (SOF0) of a JPEG stream. Needs read,
 * seek and tell; opened with QD_OPEN_READ and closed.
 * @param stream the JPEG file.
 * @param info   receives width, height, components and the first component's
 *               sampling; cleared first; may be null.
 * @retval QD_OK            *info is filled.
 * @retval QD_E_INVALID_ARG the stream or one of its callbacks is missing.
 * @retval QD_E_UNSUPPORTED no SOI at the start, or no SOF0 before the image data
 *                          (progressive and other frame types).
 * @retval QD_E_NO_MEMORY, QD_E_FAILED memory, a failed host read or an end of stream
 *                          inside a segment.
 * @return Host open and close errors are returned as the host stored them (a
 *         close error only when the work succeeded). *info stays cleared on failure.
 */
QD_EXPORT uint32_t QD_API QDParseGetJPEGInfo(const qdlStream *stream, JpegImageInfo *info);

/**
 * Copies the first frame header of `source` (its length field and payload,
 * without the marker) to `destination`. `source` needs open, close, read, seek
 * and tell and is opened with QD_OPEN_READ; `destination` needs open, close,
 * write, seek and tell and is opened with QD_OPEN_UPDATE, written and closed.
 * @param source      the JPEG file.
 * @param destination receives the frame header.
 * @retval QD_OK            the frame header was written, or the file has none
 *                          (nothing written, destination not opened).
 * @retval QD_E_INVALID_ARG a stream or one of the callbacks is missing.
 * @retval QD_E_NO_MEMORY   no buffer for the frame header.
 * @retval QD_E_FAILED      a read, an open, a write or a close of `destination` failed.
 * @return A host open error of `source` is returned as the host stored it; its
 *         close error takes precedence over every other result.
 */
QD_EXPORT uint32_t QD_API QDParseGetSOFData(const qdlStream *source,
                                            const qdlStream *destination);

/**
 * Lays out the IFD tree described by `list` as a little-endian Exif block
 * ("Exif" signature, or "LoLe" when kind is 1) and describes it in *out. Uses
 * no stream. Requests mean, when building: IFDQ_READ one entry with its value
 * (data = address of the values, size = their bytes; tag 0 is passed over);
 * IFDQ_LOCATE one entry with `data` bytes reserved (size = its count; data
 * returns the area's offset); IFDQ_NEXT_IFD the next IFD of the chain;
 * IFDQ_ENTER ... IFDQ_LEAVE a sub-IFD (size 0 is replaced by its byte size);
 * IFDQ_PLACEHOLDER nothing. data/size on IFDQ_END or IFDQ_LEAVE: a block copied
 * after that IFD, its bytes 4-7 overwritten with the IFD's offset. Entries go in
 * list order.
 * @param list the request list; required.
 * @param out  receives the block; required; cleared first.
 * @param kind 1 for the "LoLe" signature, anything else for "Exif".
 * @retval QD_OK            *out describes a library block: release it with qdParseFreeExifBuffer.
 * @retval QD_E_INVALID_ARG list or out is null, an unknown op or value type, a sub-IFD
 *                          without its IFDQ_LEAVE, or a block over 4 GiB.
 * @retval QD_E_NO_MEMORY   the block could not be allocated.
 * @retval QD_E_FAILED      the write pass did not reproduce the measured size.
 * On failure *out stays cleared (unless it was null) and nothing is to be released.
 */
QD_EXPORT uint32_t QD_API qdParseCreateExifProperty(IfdQuery *list, TiffBlockInfo *out,
                                                    uint32_t kind);

/** @} */

/** @defgroup conformance Conformance
 * The JPEG file-system check and the optional-data trailer.
 * @{ */

/**
 * Checks a JPEG file against the camera file-system rules: marker order,
 * signatures, the required tags and values of IFD0, the Exif IFD and IFD1, and
 * the thumbnail. Needs open, close, read, seek and tell; opened with
 * QD_OPEN_READ and closed.
 * @param stream     the JPEG file.
 * @param unused     not read.
 * @param failingTag receives the tag that failed its rule (0xFFFF for a missing
 *                   IFD); written only on a tag failure; required.
 * @param portrait   receives 1 for a conforming portrait picture, else 0; required.
 * @retval QD_OK                    the file conforms; *portrait is 0.
 * @retval QD_CHECK_TAG_OR_PORTRAIT not an error code: with *portrait 1 the file conforms
 *                                  and is a portrait picture; with *portrait 0 a tag failed
 *                                  and *failingTag names it.
 * @retval QD_E_UNSUPPORTED         a structural failure (marker order, signature, thumbnail).
 * @retval QD_E_INVALID_ARG         a pointer or callback is missing.
 * @retval QD_E_NO_MEMORY, QD_E_FAILED memory or a failed read.
 * @return Host open and close errors are returned as the host stored them.
 */
QD_EXPORT uint32_t QD_API QDParseJpegCheck(const qdlStream *stream, uint32_t unused,
                                           uint16_t *failingTag, uint16_t *portrait);

/**
 * Tells whether the stream ends with the 64-byte optional-data trailer.
 * Needs open, close, read, seek and tell; opened with QD_OPEN_READ and closed.
 * @param stream  the file.
 * @param present receives 1 when the trailer is there, else 0; required.
 * @retval QD_OK            *present holds the answer.
 * @retval QD_E_INVALID_ARG present, the stream or one of its callbacks is missing.
 * @retval QD_E_FAILED      sizing, seeking or reading the stream failed; *present is
 *                          then not written.
 * @return Host open and close errors are returned as the host stored them.
 */
QD_EXPORT uint32_t QD_API QDParseHasVedraOptionalData(const qdlStream *stream, uint16_t *present);

/** @} */

/** @defgroup iim IIM
 * IIM datasets of JPEG and TIFF files, and preserved-IIM blocks.
 * @{ */

/**
 * Writes the IIM datasets that an Exif JPEG or a TIFF file carries behind
 * IFD0's IPTC-NAA tag (0x83BB) to `destination`, one IimRecord per dataset
 * the library extracts (record 1: 30, 60; record 2: 5, 15, 20, 25, 40, 55, 60,
 * 65, 80, 85, 90, 103, 105, 110, 115, 120, 122; never an extended dataset), in
 * file order. `source` needs read, seek and tell and is opened with
 * QD_OPEN_READ when it has open, and closed; `destination` needs open, write
 * and close and is opened with QD_OPEN_WRITE, written and closed.
 * @param source      the file.
 * @param destination receives the IimRecords.
 * @retval QD_OK              the datasets were written.
 * @retval QD_E_INVALID_ARG   a stream or callback is missing.
 * @retval QD_E_NOT_APPLICABLE the file could hold IIM data but has none.
 * @retval QD_E_CORRUPT       a file kind that carries no IIM block, or a block,
 *                            dataset or extended length that runs past the stream.
 * @retval QD_E_UNSUPPORTED   an Exif JPEG without an APP1 segment.
 * @retval QD_E_FAILED        the file is not one that recognition takes (its
 *                            status converted), other than the two TIFF models
 *                            read like Exif TIFFs.
 * @retval QD_E_NO_MEMORY     an allocation failed.
 * @return Host errors while reading the datasets, writing or closing are
 *         returned as the host stored them; those during recognition are
 *         converted. Records written before a failure stay in `destination`.
 */
QD_EXPORT uint32_t QD_API QDParseGetIIMInfo(const qdlStream *source,
                                            const qdlStream *destination);

/**
 * Overwrites, in place, the datasets of the file that `records` name (the
 * first dataset with each record's numbers), after the version datasets 1:00,
 * 1:20, 1:22 and 2:00 are set to 2, 3, 2 and 1 where they exist. Stored
 * lengths never change (values are cut or zero-padded), extended datasets and
 * datasets the file lacks are skipped. Needs read, write, seek and tell;
 * opened with QD_OPEN_UPDATE when it has open, and closed.
 * @param stream  the file.
 * @param records null-terminated array of IimRecord pointers; required.
 * @retval QD_OK            the named datasets were overwritten.
 * @retval QD_E_INVALID_ARG records, the stream or one of its callbacks is missing.
 * @retval QD_E_NOT_APPLICABLE, QD_E_CORRUPT, QD_E_UNSUPPORTED, QD_E_NO_MEMORY
 *                          as for QDParseGetIIMInfo.
 * @return Host errors are returned as the host stored them; a failing rewrite
 *         may leave the file partly changed.
 */
QD_EXPORT uint32_t QD_API QDParseReplaceIIMInfo(const qdlStream *stream, IimRecord **records);

/**
 * Packs IIM records into a preserved-IIM block written to `destination`
 * (needs open, write and close; opened with QD_OPEN_WRITE, written, closed).
 * @param sourceKind  QD_IIM_SOURCE_STREAM or QD_IIM_SOURCE_LIST.
 * @param source      QD_IIM_SOURCE_STREAM: a qdlStream holding IimRecords (read,
 *                    seek, tell; opened with QD_OPEN_READ and closed);
 *                    QD_IIM_SOURCE_LIST: a null-terminated IimRecord** array.
 * @param destination receives the block.
 * @retval QD_OK            the block was written.
 * @retval QD_E_INVALID_ARG source, destination or a callback missing, or an
 *                          unknown sourceKind.
 * @retval QD_E_CORRUPT     an empty or cut-short source.
 * @retval QD_E_FAILED      more than 100 records in a list.
 * @retval QD_E_NO_MEMORY   an allocation failed.
 * @return Host errors are returned as the host stored them.
 */
QD_EXPORT uint32_t QD_API QDParseMakePreserveIIMInfo(uint32_t sourceKind, const void *source,
                                                     const qdlStream *destination);

/**
 * Unpacks a preserved-IIM block into IimRecords (lengths little-endian)
 * written to `destination`. `source` needs read, seek and tell (opened with
 * QD_OPEN_READ, closed); `destination` needs open, write and close (opened with
 * QD_OPEN_WRITE, written, closed).
 * @param source      the preserved-IIM block.
 * @param destination receives the IimRecords.
 * @retval QD_OK            the records were written.
 * @retval QD_E_INVALID_ARG a stream or callback is missing.
 * @retval QD_E_CORRUPT     an empty payload, a short source, or a wrong name,
 *                          version or byte-order byte.
 * @retval QD_E_NO_MEMORY   an allocation failed.
 * @return Host errors are returned as the host stored them.
 */
QD_EXPORT uint32_t QD_API QDParseReadPreserveIIMInfo(const qdlStream *source,
                                                     const qdlStream *destination);

/** @} */

/** @defgroup parsing Parsing and extraction *
 * Output records are cleared first (shot values set to their absent values)
 * and owned by the caller. Output streams are used only when non-null with a
 * write callback; each is opened (QD_OPEN_WRITE), written and closed:
 * propertyOut receives typed property records (PropertyRecord framing, ended
 * by code 0x111), commentOut the user comment as one record of code 11,
 * dcfThumbOut the Exif thumbnail as raw bytes. `reserved` is not used.
 * fileSize is the file's length for the compressed-bits figure; 0 if unknown.
 * @{
 */

/**
 * Describes a file: its kind, main image, thumbnail, capture data and shot
 * values. The stream must be non-null; its callbacks are not checked (a missing
 * one fails the read that needs it) and it is neither opened nor closed: the
 * host does both. The file size for the compressed-bits figure is unknown (0).
 * @param stream      the host-opened file; required.
 * @param thumbInfo   receives the thumbnail description, or null.
 * @param imageInfo   receives the main-image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param fileType    receives the file type code once the file is recognised,
 *                    else 0xFF (also on every failure before that); may be null.
 * @retval QD_OK              the outputs describe the file.
 * @retval QD_E_INVALID_ARG   stream is null; the records are not touched.
 * @retval QD_E_UNSUPPORTED   not a file of a kind the library reads, a heap without
 *                            maker, model or capture time, or an Exif file without
 *                            a main-image size.
 * @retval QD_E_NOT_APPLICABLE a heap without image format records, described from
 *                            its JPEG frame instead (the outputs are filled); only
 *                            when shotValues is given, else the result is QD_OK.
 * @retval QD_E_CORRUPT       inconsistent heap tables or offsets.
 * @retval QD_E_NO_MEMORY     an allocation failed.
 * @retval QD_E_BLOCK_CHECK   a buffer failed its release check.
 * @retval QD_E_FAILED        a TIFF of no kind the library reads, a read past the end of
 *                             the stream, or a failed host read.
 * @return A host error kept while recognising the file is returned as the host
 *         stored it. Once the stream is accepted the records are cleared
 *         (capture fileNumber 0xFFFFFFFF, shot values at their absent values);
 *         on failure they stay cleared, except that a JPEG's first frame size is
 *         filled into imageInfo and thumbInfo (format 2) as soon as it is read.
 */
QD_EXPORT uint32_t QD_API QDParseStream(const qdlStream *stream, QdThumbnailInfo *thumbInfo,
                                        QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo,
                                        ExifShotValues *shotValues, uint8_t *fileType);

/**
 * QDParseStream with the auxiliary image description: *auxInfo is cleared
 * and is filled only when an Exif file describes an auxiliary image
 * (format 10). Results and other outputs as for QDParseStream.
 * @param stream      the host-opened file; required (QD_E_INVALID_ARG).
 * @param thumbInfo   receives the thumbnail description, or null.
 * @param imageInfo   receives the main-image description, or null.
 * @param auxInfo     receives the auxiliary image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param fileType    receives the file type code, else 0xFF; may be null.
 */
QD_EXPORT uint32_t QD_API QDParseStream2(const qdlStream *stream, QdThumbnailInfo *thumbInfo,
                                         QdImageInfo *imageInfo, QdAuxImageInfo *auxInfo,
                                         ExifCaptureInfo *captureInfo,
                                         ExifShotValues *shotValues, uint8_t *fileType);

/**
 * Describes a file as QDParseStream does, and writes its typed property
 * records to `propertyOut` and its user comment to `commentOut`. Needs read,
 * seek and tell; opened with QD_OPEN_READ and closed.
 * @param stream      the file.
 * @param fileSize    the file's length for the compressed-bits figure; 0 if unknown.
 * @param thumbInfo   receives the thumbnail description, or null.
 * @param imageInfo   receives the main-image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param reserved    not used.
 * @param commentOut  receives the comment record, or null.
 * @param propertyOut receives the property records, or null.
 * @retval QD_OK and the codes of QDParseStream, from the same conditions.
 * @retval QD_E_INVALID_ARG   the stream or one of its callbacks is missing; nothing
 *                            is called and no record is touched.
 * @retval QD_E_SHORT_WRITE   an output stream took nothing or more than offered.
 * @return A host open error is returned as the host stored it, before anything
 *         else. A host error of an output stream, or one kept while recognising,
 *         is returned as it is. A close error of `stream` takes precedence over
 *         every other result. The records are cleared as for QDParseStream and
 *         hold what was found when a failure came after them; records already
 *         written to the output streams stay written.
 */
QD_EXPORT uint32_t QD_API QDParseThumbnailFileStream(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo, ExifShotValues *shotValues,
    const qdlStream *reserved, const qdlStream *commentOut, const qdlStream *propertyOut);

/**
 * QDParseThumbnailFileStream that also writes the Exif thumbnail, as raw
 * bytes, to `dcfThumbOut`. Results and outputs
 * as for QDParseThumbnailFileStream.
 * @param stream      the file.
 * @param fileSize    the file's length for the compressed-bits figure; 0 if unknown.
 * @param thumbInfo   receives the thumbnail description, or null.
 * @param imageInfo   receives the main-image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param reserved    not used.
 * @param commentOut  receives the comment record, or null.
 * @param propertyOut receives the property records, or null.
 * @param dcfThumbOut receives the DCF thumbnail, or null.
 */
QD_EXPORT uint32_t QD_API QDParseThumbnailFileStreamEx(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo, ExifShotValues *shotValues,
    const qdlStream *reserved, const qdlStream *commentOut, const qdlStream *propertyOut,
    const qdlStream *dcfThumbOut);

/**
 * Second name of QDParseThumbnailFileStreamEx: the same entry point, with
 * the same results and outputs.
 * @param stream      the file.
 * @param fileSize    the file's length; 0 if unknown.
 * @param thumbInfo   receives the thumbnail description, or null.
 * @param imageInfo   receives the main-image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param reserved    not used.
 * @param commentOut  receives the comment record, or null.
 * @param propertyOut receives the property records, or null.
 * @param dcfThumbOut receives the DCF thumbnail, or null.
 */
QD_EXPORT uint32_t QD_API QDParseGetFileStream(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo, ExifShotValues *shotValues,
    const qdlStream *reserved, const qdlStream *commentOut, const qdlStream *propertyOut,
    const qdlStream *dcfThumbOut);

/**
 * QDParseThumbnailFileStreamEx with the auxiliary image description, as in
 * QDParseStream2. Results and outputs as for QDParseThumbnailFileStream.
 * @param stream      the file.
 * @param fileSize    the file's length; 0 if unknown.
 * @param thumbInfo   receives the thumbnail description, or null.
 * @param imageInfo   receives the main-image description, or null.
 * @param auxInfo     receives the auxiliary image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param reserved    not used.
 * @param commentOut  receives the comment record, or null.
 * @param propertyOut receives the property records, or null.
 * @param dcfThumbOut receives the DCF thumbnail, or null.
 */
QD_EXPORT uint32_t QD_API QDParseThumbnailFileStreamEx2(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, QdAuxImageInfo *auxInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut, const qdlStream *dcfThumbOut);

/**
 * The same as QDParseThumbnailFileStreamEx2 (a function of its own with the
 * same behaviour, results and outputs).
 * @param stream      the file.
 * @param fileSize    the file's length; 0 if unknown.
 * @param thumbInfo   receives the thumbnail description, or null.
 * @param imageInfo   receives the main-image description, or null.
 * @param auxInfo     receives the auxiliary image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param reserved    not used.
 * @param commentOut  receives the comment record, or null.
 * @param propertyOut receives the property records, or null.
 * @param dcfThumbOut receives the DCF thumbnail, or null.
 */
QD_EXPORT uint32_t QD_API QDParseGetFileStream2(
    const qdlStream *stream, uint32_t fileSize, QdThumbnailInfo *thumbInfo,
    QdImageInfo *imageInfo, QdAuxImageInfo *auxInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut, const qdlStream *dcfThumbOut);

/**
 * Describes the main image and writes the property records and the comment,
 * as QDParseThumbnailFileStream does without the thumbnail description; the
 * file size is taken from the stream (tell, seek to the end, tell, seek back).
 * Needs read, seek and tell; opened with QD_OPEN_READ and closed.
 * @param stream      the file.
 * @param imageInfo   receives the main-image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param reserved    not used.
 * @param commentOut  receives the comment record, or null.
 * @param propertyOut receives the property records, or null.
 * @return The codes of QDParseThumbnailFileStream, except that a host error
 *         while sizing the stream is returned as it is (the records are then
 *         not touched), and a close error is returned only when everything
 *         else succeeded.
 */
QD_EXPORT uint32_t QD_API QDParseFullViewFileStream(
    const qdlStream *stream, QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut);

/**
 * QDParseFullViewFileStream that also writes the DCF thumbnail to
 * `dcfThumbOut`. Results and outputs as for QDParseFullViewFileStream.
 * @param stream      the file.
 * @param imageInfo   receives the main-image description, or null.
 * @param captureInfo receives the capture data, or null.
 * @param shotValues  receives the shot values, or null.
 * @param reserved    not used.
 * @param commentOut  receives the comment record, or null.
 * @param propertyOut receives the property records, or null.
 * @param dcfThumbOut receives the DCF thumbnail, or null.
 */
QD_EXPORT uint32_t QD_API QDParseFullViewFileStreamEx(
    const qdlStream *stream, QdImageInfo *imageInfo, ExifCaptureInfo *captureInfo,
    ExifShotValues *shotValues, const qdlStream *reserved, const qdlStream *commentOut,
    const qdlStream *propertyOut, const qdlStream *dcfThumbOut);

/**
 * Writes only the DCF thumbnail of a file to `dcfThumbOut`, which is opened
 * with QD_OPEN_WRITE, written and closed (nothing is written when it is null or
 * has no write callback). Runs the full-view parse: results as for
 * QDParseFullViewFileStream.
 * @param stream      the file; needs read, seek and tell.
 * @param dcfThumbOut receives the DCF thumbnail.
 */
QD_EXPORT uint32_t QD_API QDParseGetDCFThumbnail(const qdlStream *stream,
                                                 const qdlStream *dcfThumbOut);

/**
 * Writes one of the two embedded JPEG images of a "CCDR" heap file to `out`,
 * as stored. `stream` needs read, seek and tell and is opened with
 * QD_OPEN_READ and closed; `out` is opened with QD_OPEN_WRITE and closed when it
 * has open and close.
 * @param stream the heap file.
 * @param which  1 or 2: which image (heap record 0x2007 or 0x2008).
 * @param out    receives the JPEG bytes; required, with write.
 * @retval QD_OK            the image was written.
 * @retval QD_E_INVALID_ARG `which` is not 1 or 2, or a stream or callback is missing;
 *                          nothing is called.
 * @retval QD_E_UNSUPPORTED not a "CCDR" heap file.
 * @retval QD_E_CORRUPT     inconsistent heap tables.
 * @retval QD_E_NO_MEMORY   an allocation failed.
 * @retval QD_E_FAILED      the image is absent or empty, a read failed, or `out`
 *                          failed to open, take every byte or close.
 * @return Host open and close errors of `stream` are returned as the host stored
 *         them (a close error only when the work succeeded). Bytes written
 *         before a failure stay in `out`.
 */
QD_EXPORT uint32_t QD_API qdParseGetJpegDataFromQdRAW(const qdlStream *stream, uint8_t which,
                                                      const qdlStream *out);

/**
 * Copies `length` bytes from `offset` of `in` to `out` with one read and
 * one write; a read that delivers fewer bytes writes only those. `in` needs
 * read, seek and tell and is neither opened nor closed; its position is restored
 * afterwards when tell succeeded. `out` needs open, write and close and is
 * opened with QD_OPEN_WRITE, written once and closed.
 * @param in     the source, already open.
 * @param offset first byte of the range.
 * @param length bytes to copy.
 * @param out    the destination.
 * @retval QD_OK            the range was copied.
 * @retval QD_E_INVALID_ARG a stream or callback is missing, or `in` is empty.
 * @retval QD_E_CORRUPT     the range does not lie inside `in`; nothing is written.
 * @retval QD_E_NO_MEMORY   no buffer for the range.
 * @retval QD_E_SHORT_READ  the read claimed more bytes than asked.
 * @retval QD_E_BLOCK_CHECK the buffer failed its release check.
 * @retval QD_E_FAILED      `in` could not be sized.
 * @return Host errors of the seek, the read, out's open, write and close are
 *         returned as the host stored them; the first one ends the copy (out's
 *         close error only when nothing failed before).
 */
QD_EXPORT uint32_t QD_API _cropStream(const qdlStream *in, uint32_t offset, uint32_t length,
                                      const qdlStream *out);

/**
 * Reports the size of the IFD1 strip image of a TIFF whose IFD0 points to an
 * Exif IFD and, when `out` is given, copies its strip bytes there with
 * _cropStream. `stream` needs read, seek and tell and is opened with
 * QD_OPEN_READ and closed.
 * @param stream the TIFF file.
 * @param width  receives ImageWidth (cleared first; set when the tag is a SHORT),
 *               or null.
 * @param height receives ImageLength likewise, or null.
 * @param out    receives the strip bytes, or null; needs write (checked first)
 *               and open and close (checked by the copy).
 * @retval QD_OK            the size is reported (and the strip copied).
 * @retval QD_E_INVALID_ARG a callback is missing, the stream is empty, or it is not
 *                          a TIFF with an Exif IFD (a JPEG among others).
 * @retval QD_E_CORRUPT     IFD0 lies past the end, the strip tags are missing while
 *                          `out` is given, or the strip runs past the end.
 * @retval QD_E_NO_MEMORY, QD_E_FAILED, QD_E_SHORT_READ, QD_E_BLOCK_CHECK as for
 *                          recognition and _cropStream.
 * @return Host open and close errors, and those of the copy, are returned as the
 *         host stored them. *width and *height stay cleared on failure unless the
 *         IFD walk had found them.
 */
QD_EXPORT uint32_t QD_API qdParseGetTWAINThumbnailDataFromTiffRAW(const qdlStream *stream,
                                                                  uint16_t *width,
                                                                  uint16_t *height,
                                                                  const qdlStream *out);

/**
 * As qdParseGetTWAINThumbnailDataFromTiffRAW for the IFD0 strip image, with
 * the same results and outputs.
 * @param stream the TIFF file.
 * @param width  receives ImageWidth of IFD0, or null.
 * @param height receives ImageLength of IFD0, or null.
 * @param out    receives the strip bytes, or null.
 */
QD_EXPORT uint32_t QD_API qdParseGetLCDDataFromTiffRAW(const qdlStream *stream, uint16_t *width,
                                                       uint16_t *height, const qdlStream *out);

/** @} */

/** @defgroup sound Sound
 * WAVE format chunks and the sound properties of memos.
 * @{ */

/**
 * Reads the format chunk of a WAVE stream, which must be its first chunk.
 * Needs read, seek and tell; opened with QD_OPEN_READ and closed.
 * @param stream the WAVE file.
 * @param info   receives the format (cleared first), or null.
 * @retval QD_OK            *info holds the format chunk.
 * @retval QD_E_INVALID_ARG the stream or one of its callbacks is missing.
 * @retval QD_E_UNSUPPORTED no RIFF/WAVE header, a first chunk other than "fmt ", or a
 *                          format chunk shorter than 16 bytes.
 * @retval QD_E_FAILED      the stream ends early, or a read failed.
 * @return Host open and close errors are returned as the host stored them (a
 *         close error only when the work succeeded). *info stays cleared on failure.
 */
QD_EXPORT uint32_t QD_API QDParseGetWAVEInfo(const qdlStream *stream, QdWaveInfo *info);

/**
 * Fills the duration and the fixed format (11000 one-byte samples per
 * second) of *props from the stream's length. Needs only seek and tell; opened
 * with QD_OPEN_READ and closed.
 * @param stream   the sound file.
 * @param props    receives duration and format; `value` and `fileNumber` are
 *                 left alone; required.
 * @param reserved not read.
 * @retval QD_OK            *props is filled.
 * @retval QD_E_INVALID_ARG stream, props, seek or tell is missing.
 * @return A host error of open, of sizing or of close is returned as the host
 *         stored it, and *props is then not touched. A sizing error returns at
 *         once, without calling close.
 */
QD_EXPORT uint32_t QD_API QDParseSoundProperties(const qdlStream *stream,
                                                 QdSoundProperties *props, uint32_t reserved);

/**
 * Fills *props from a file name and a data length, without a stream: the
 * duration and fixed format from `dataLength`, the DCF file number from the
 * name and `value` as given.
 * @param fileName   the file name; the three letters after its first '.' must
 *                   be WAV, VRW, JPG or TIF (upper case); required.
 * @param dataLength bytes of sound data.
 * @param value      stored in props->value.
 * @param props      receives the properties; required.
 * @param reserved   not read.
 * @retval QD_OK            *props is filled.
 * @retval QD_E_INVALID_ARG fileName or props is null.
 * @retval QD_E_UNSUPPORTED another extension; *props is not touched.
 */
QD_EXPORT uint32_t QD_API QDEstimateSoundProperties(const char *fileName, uint32_t dataLength,
                                                    uint32_t value, QdSoundProperties *props,
                                                    uint32_t reserved);

/** @} */

/** @defgroup exifwrite Exif writing
 * Exif property buffers and maker notes built from the caller's values, and
 * the release functions of every library block.
 * @{ */

/**
 * Builds a complete little-endian Exif property buffer ("Exif" signature) in
 * the basic camera form from the caller's values: IFD0, the Exif IFD with the
 * maker note and, as the values call for them, the interoperability IFD and
 * IFD1 with a thumbnail. Uses no stream; no value is validated (out-of-range or
 * unknown values fall back to the defaults).
 * @param imageInfo   image description (ignored when its `valid` is 0), or null.
 * @param captureInfo capture data, or null.
 * @param shotValues  shot values (absent values are left out), or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         receives the buffer; required; cleared first.
 * @retval QD_OK            *out describes a library block: release it with qdParseFreeExifBuffer.
 * @retval QD_E_INVALID_ARG out is null, or the block would exceed 4 GiB.
 * @retval QD_E_NO_MEMORY   an allocation failed.
 * @retval QD_E_FAILED      the layout did not reproduce its measured size.
 * On failure *out stays cleared and nothing is to be released.
 */
QD_EXPORT uint32_t QD_API qdParseCreateExifPropBuffer(const ExifImageInfo *imageInfo,
                                                      const ExifCaptureInfo *captureInfo,
                                                      const ExifShotValues *shotValues,
                                                      PropertyRecord **records,
                                                      TiffBlockInfo *out);

/**
 * As qdParseCreateExifPropBuffer, with the firmware text and the maker-note
 * arrays written. Results and outputs as there.
 * @param imageInfo   image description, or null.
 * @param captureInfo capture data, or null.
 * @param shotValues  shot values, or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         receives the buffer; required (QD_E_INVALID_ARG); cleared first.
 */
QD_EXPORT uint32_t QD_API qdParseCreateExifPropBufferEx(const ExifImageInfo *imageInfo,
                                                        const ExifCaptureInfo *captureInfo,
                                                        const ExifShotValues *shotValues,
                                                        PropertyRecord **records,
                                                        TiffBlockInfo *out);

/**
 * As qdParseCreateExifPropBufferEx, with the "LoLe" signature in place of
 * "Exif". Results and outputs as for qdParseCreateExifPropBuffer.
 * @param imageInfo   image description, or null.
 * @param captureInfo capture data, or null.
 * @param shotValues  shot values, or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         receives the buffer; required (QD_E_INVALID_ARG); cleared first.
 */
QD_EXPORT uint32_t QD_API qdParseCreateLossLessPropBuffer(const ExifImageInfo *imageInfo,
                                                          const ExifCaptureInfo *captureInfo,
                                                          const ExifShotValues *shotValues,
                                                          PropertyRecord **records,
                                                          TiffBlockInfo *out);

/**
 * Builds the maker note alone: an Exif buffer is built in memory as by
 * qdParseCreateExifPropBufferEx, in the byte order the caller set in
 * out->byteOrder, and its maker note is copied out. Uses no stream.
 * @param imageInfo   image description, or null.
 * @param captureInfo capture data, or null.
 * @param shotValues  shot values, or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         in: `byteOrder`; out: `data`, `size` and `offset`; required.
 * @retval QD_OK            `data` is a library block: release it with
 *                          qdParseFreeMakerNoteBuffer. When the built buffer has no
 *                          Make or no maker note, nothing is written to *out.
 * @retval QD_E_INVALID_ARG out is null.
 * @retval QD_E_OTHER_MAKER the Make is not the camera maker's name.
 * @retval QD_E_OUT_OF_RANGE the maker note runs past the built TIFF block.
 * @retval QD_E_NO_MEMORY, QD_E_FAILED building failed.
 * *out is not cleared: on failure it is left as it was.
 */
QD_EXPORT uint32_t QD_API qdParseCreateMakerNote(const ExifImageInfo *imageInfo,
                                                 const ExifCaptureInfo *captureInfo,
                                                 const ExifShotValues *shotValues,
                                                 PropertyRecord **records, MakerNoteBuffer *out);

/**
 * Releases block->segment when it is non-null and zeroes the whole record;
 * releasing a zeroed record does nothing.
 * @param block the record; may be null (nothing happens).
 * @retval QD_OK always; a block that fails its ownership check is not freed.
 */
QD_EXPORT uint32_t QD_API qdParseFreeExifBuffer(TiffBlockInfo *block);
/**
 * Releases info->iccProfile and info->iim when non-null and zeroes the
 * whole record.
 * @param info the record; may be null (nothing happens).
 * @retval QD_OK always; a block that fails its ownership check is not freed.
 */
QD_EXPORT uint32_t QD_API qdParseFreeOutPutInfo(OutPutInfo *info);
/**
 * Releases info->buffer when it is non-null and zeroes the record. Also the
 * release for blocks that entries of qdParseHeapObject and IFDQ_READ
 * requests of size 0 received: store the pointer in an ExtensionInfo.
 * @param info the record; may be null (nothing happens).
 * @retval QD_OK always; a block that fails its ownership check is not freed.
 */
QD_EXPORT uint32_t QD_API qdParseFreeApp1Info(ExtensionInfo *info);
/**
 * Second name of qdParseFreeApp1Info: the same entry point.
 * @param info the record; may be null (nothing happens).
 * @retval QD_OK always.
 */
QD_EXPORT uint32_t QD_API qdParseFreeExtensionInfo(ExtensionInfo *info);
/**
 * Releases buffer->data when it is non-null and zeroes the whole record.
 * @param buffer the record; may be null (nothing happens).
 * @retval QD_OK always; a block that fails its ownership check is not freed.
 */
QD_EXPORT uint32_t QD_API qdParseFreeMakerNoteBuffer(MakerNoteBuffer *buffer);

/** @} */

/** @defgroup replace Replacement *
 * Values are overwritten where they lie, with their existing type and size:
 * no tag or record is added and the file never grows or shrinks. A failing
 * rewrite may leave the file partly changed. captureInfo->time may be shifted
 * by the local zone offset on return.
 * @{
 */

/**
 * QDParseReplaceProperties2 without a second image record: the same
 * callbacks, results and outputs.
 * @param stream      the file, rewritten in place.
 * @param imageInfo   new image description, or null.
 * @param captureInfo new capture data, or null; its `time` may be shifted by the
 *                    local zone offset on return.
 * @param shotValues  new shot values (absent values are left alone), or null.
 * @param records     null-terminated array of property records, or null.
 */
QD_EXPORT uint32_t QD_API QDParseReplaceProperties(const qdlStream *stream,
                                                   const ExifImageInfo *imageInfo,
                                                   ExifCaptureInfo *captureInfo,
                                                   const ExifShotValues *shotValues,
                                                   PropertyRecord **records);

/**
 * Rewrites the properties of a heap file, a JPEG with a heap, a TIFF RAW
 * file, an Exif JPEG or an Exif TIFF in place. Needs read, write, seek and
 * tell; opened with QD_OPEN_UPDATE and closed.
 * @param stream      the file, rewritten in place.
 * @param imageInfo   new image description, or null.
 * @param secondImage stands in for imageInfo when that is null or not valid;
 *                    may be null.
 * @param captureInfo new capture data, or null; its `time` may be shifted by the
 *                    local zone offset on return.
 * @param shotValues  new shot values, or null.
 * @param records     null-terminated array of property records, or null.
 * @retval QD_OK              the values the file has were overwritten.
 * @retval QD_E_INVALID_ARG   the stream or one of its callbacks is missing.
 * @retval QD_E_OTHER_MAKER   a file of no kind the library rewrites.
 * @retval QD_E_UNSUPPORTED   an Exif JPEG without an APP1 segment to write back, or a
 *                            recognition that refused the file.
 * @retval QD_E_NOT_APPLICABLE a value the heap cannot take (unknown record width or
 *                            conversion, empty value).
 * @retval QD_E_SIZE_MISMATCH the rewritten heap would not have its stored length.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED reading or rewriting failed.
 * @retval QD_E_SHORT_WRITE   the stream took nothing or more than offered.
 * @return Host errors (open, seek, read, write, close) are returned as the host
 *         stored them; a close error only when the work succeeded. A failing
 *         rewrite may leave the file partly changed.
 */
QD_EXPORT uint32_t QD_API QDParseReplaceProperties2(const qdlStream *stream,
                                                    const ExifImageInfo *imageInfo,
                                                    const QdAuxImageInfo *secondImage,
                                                    ExifCaptureInfo *captureInfo,
                                                    const ExifShotValues *shotValues,
                                                    PropertyRecord **records);

/**
 * Overwrites one property, named as for QDParseGetSingleProperty, with the
 * bytes of `value`, in place. `stream` needs read, write, seek and tell and is
 * opened with QD_OPEN_UPDATE and closed; `value` is opened with QD_OPEN_READ,
 * read whole and closed.
 * @param stream     the file.
 * @param fileType   receives the file type code once the file is recognised; may be null.
 * @param propertyId the property identifier.
 * @param value      holds the new bytes; required.
 * @retval QD_OK              the property was overwritten.
 * @retval QD_E_INVALID_ARG   value, the stream or one of its callbacks is missing.
 * @retval QD_E_NOT_APPLICABLE an identifier the file cannot take, an absent property,
 *                            an empty value or a conversion that is not supported.
 * @retval QD_E_UNSUPPORTED   a file type without properties, or an Exif JPEG without
 *                            an APP1 segment.
 * @retval QD_E_SIZE_MISMATCH the new data does not fit the stored space.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED reading or rewriting failed.
 * @retval QD_E_SHORT_READ, QD_E_SHORT_WRITE a host transfer delivered or took nothing.
 * @return Host errors of either stream are returned as the host stored them. A
 *         failing rewrite may leave the file partly changed.
 */
QD_EXPORT uint32_t QD_API QDParseReplaceSingleProperty(const qdlStream *stream,
                                                       uint8_t *fileType, uint32_t propertyId,
                                                       const qdlStream *value);

/**
 * Returns a changed copy of an Exif JPEG's Exif block; the file is only read.
 * Needs read, seek and tell; opened with QD_OPEN_READ and closed.
 * @param stream      the Exif JPEG.
 * @param imageInfo   new image description, or null.
 * @param captureInfo new capture data, or null.
 * @param shotValues  new shot values, or null.
 * @param records     null-terminated array of property records, or null.
 * @param out         receives the copy; required; cleared first.
 * @retval QD_OK            *out describes a library block: release it with qdParseFreeExifBuffer.
 * @retval QD_E_INVALID_ARG out, the stream or one of its callbacks is missing.
 * @retval QD_E_UNSUPPORTED not an Exif JPEG.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED reading or copying failed.
 * @return Host errors are returned as the host stored them. On every failure,
 *         a close error included, *out is left cleared with nothing to release.
 */
QD_EXPORT uint32_t QD_API qdParseGetExifPropBufferWithReplace(const qdlStream *stream,
                                                              const ExifImageInfo *imageInfo,
                                                              ExifCaptureInfo *captureInfo,
                                                              const ExifShotValues *shotValues,
                                                              PropertyRecord **records,
                                                              TiffBlockInfo *out);

/**
 * As qdParseGetExifPropBufferWithReplace, with the copy wrapped as a complete
 * APP1 segment (marker, big-endian length, block) in *segment; the file's
 * APP2 and APP13 segments are collected whole into *segmentInfo.
 * @param stream      the Exif JPEG.
 * @param imageInfo   new image description, or null.
 * @param captureInfo new capture data, or null.
 * @param shotValues  new shot values, or null.
 * @param records     null-terminated array of property records, or null.
 * @param segment     receives the APP1 segment; required; cleared first.
 * @param segmentInfo receives the APP2/APP13 segments; cleared first; may be null.
 * @retval QD_OK              release both with qdParseFreeApp1Info.
 * @retval QD_E_INVALID_ARG   segment, the stream or one of its callbacks is missing.
 * @retval QD_E_UNSUPPORTED   not an Exif JPEG.
 * @retval QD_E_SIZE_MISMATCH the changed block no longer fits one APP1 segment.
 * @retval QD_E_CORRUPT, QD_E_NO_MEMORY, QD_E_FAILED reading or copying failed.
 * @return Host errors are returned as the host stored them. On every failure
 *         both records are left cleared with nothing to release.
 */
QD_EXPORT uint32_t QD_API qdParseExifJpegMakeImageProperty(const qdlStream *stream,
                                                           const ExifImageInfo *imageInfo,
                                                           ExifCaptureInfo *captureInfo,
                                                           const ExifShotValues *shotValues,
                                                           PropertyRecord **records,
                                                           ExtensionInfo *segment,
                                                           ExtensionInfo *segmentInfo);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* QDPARSE_H */
