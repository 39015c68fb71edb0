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
 * open/close/aux may be null; read, seek and tell are required by every export
 *   that reads a stream, write by every export that writes one.
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

/* @@RECORDS_AND_EXPORTS@@ */

#ifdef __cplusplus
}
#endif

#endif /* QDPARSE_H */
