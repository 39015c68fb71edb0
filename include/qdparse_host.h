/**
 * @file qdparse_host.h
 * @brief Ready-made host streams over files and memory, and names of codes.
 *
 * qdparse_host: ready-made qdlStream implementations for hosts and tools.
 *
 * A file stream reads and writes a file by path; a memory stream reads and
 * writes caller memory (fixed) or a buffer it grows itself (growable). Each
 * Init function fills a qdlStream record and allocates its context; hand the
 * record to the library's exports, which open and close it around each call,
 * and free the context with qdhStreamRelease when done.
 *
 * Behaviour of the callbacks, for every stream kind:
 * - open takes QD_OPEN_READ (the stream is only read), QD_OPEN_UPDATE (read
 *   and written in place; nothing is truncated) or QD_OPEN_WRITE (the content
 *   is emptied first; the stream may still be read back). Every other
 *   callback fails with QDH_E_NOT_OPEN before open or after close, and open
 *   fails with QDH_E_ALREADY_OPEN on an open stream.
 * - read delivers min(asked, available) bytes from the current position; at
 *   or past the end it delivers 0 bytes with error 0 (the library itself
 *   treats a 0-byte delivery as a short read).
 * - write transfers every byte offered or none: a write that does not fit
 *   fails with count 0 and nothing changed (QDH_E_TOO_LARGE, QDH_E_NO_SPACE,
 *   QDH_E_NO_MEMORY, QDH_E_READ_ONLY). Only an I/O error from the OS can leave
 *   a partial count. Writing past the end fills the gap with zero bytes.
 * - Positions are 32-bit: content never exceeds 4 GiB - 1 bytes. Seeking past
 *   the end is allowed; seeking before the start fails with
 *   QDH_E_SEEK_BEFORE_START, past 4 GiB - 1 with QDH_E_TOO_LARGE, and a
 *   failed seek leaves the position where it was. With QD_SEEK_START the
 *   offset is read as an unsigned position.
 * - tell returns the current position (0 with an error when not open).
 * - Every callback stores 0 in *error on success and a QDH_E_ code on
 *   failure; open, close, read, write and seek also return that value.
 * - aux is left null.
 *
 * The library's result codes and property records also get their names here.
 *
 * A stream serves one caller at a time; nothing here takes locks.
 * Compiles as C99 and as C++.
 */
#ifndef QDPARSE_HOST_H
#define QDPARSE_HOST_H

#include <stdint.h>

#include "qdparse.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Error values ------------------------------------------------------ */

/** @defgroup host Host streams (qdparse_host.h)
 * File and memory streams for hosts and tools; see qdparse_host.h.
 * @{ */

/* Host facility 0x08: never equal to a library result code (0x04000000 | n),
 * so a caller can tell which side failed. */
#define QDH_E_INVALID_ARG       0x08000001u /**< a null or unusable argument */
#define QDH_E_NO_MEMORY         0x08000002u /**< allocation failed; nothing changed */
#define QDH_E_BAD_MODE          0x08000003u /**< open mode other than 1, 2, 3 */
#define QDH_E_BAD_ORIGIN        0x08000004u /**< seek origin other than 1, 2, 3 */
#define QDH_E_NOT_OPEN          0x08000005u /**< callback on a stream that is not open */
#define QDH_E_ALREADY_OPEN      0x08000006u /**< open on a stream that is open */
/** the OS refused to open the file (see qdhFileStreamOsError) */
#define QDH_E_OPEN_FAILED       0x08000007u
/** the OS failed a read, write, seek or flush (see qdhFileStreamOsError) */
#define QDH_E_IO                0x08000008u
/** a file over 4 GiB - 1, or a seek or write beyond it */
#define QDH_E_TOO_LARGE         0x08000009u
#define QDH_E_SEEK_BEFORE_START 0x0800000Au /**< seek to a negative position */
/** write to a stream opened for reading, or update/write mode on read-only memory */
#define QDH_E_READ_ONLY         0x0800000Bu
#define QDH_E_NO_SPACE          0x0800000Cu /**< write past the capacity of a fixed memory stream */

/**
 * The name of a host error value ("QDH_E_TOO_LARGE").
 * @param error a QDH_E_ value.
 * @return a static string, or NULL for any other value.
 */
const char *qdhErrorName(uint32_t error);
/**
 * A one-line description of a host error value.
 * @param error a QDH_E_ value.
 * @return a static string, or NULL for any other value.
 */
const char *qdhErrorText(uint32_t error);

/* ---- Library codes ----------------------------------------------------- */

/**
 * The name of a library result code ("QD_E_CORRUPT").
 * @param code a result code.
 * @return a static string, or NULL for any other value (a host error among them).
 */
const char *qdhResultName(uint32_t code);
/**
 * A one-line description of a library result code.
 * @param code a result code.
 * @return a static string, or NULL for any other value (a host error among them).
 */
const char *qdhResultText(uint32_t code);

/**
 * The name ("ExposureTime") and the payload layout of a property record
 * code, as the parse exports write records ({u16 code, u32 size, payload},
 * little-endian); NULL for a code the library does not know.
 * A layout is a list of fields separated by ", ", each a kind, then a space
 * and a field name when the record has more than one value
 * ("u32 angle, u16 mirrored"). The kinds:
 *   u16 u32 f32          one value
 *   rational srational   u32 (or i32) numerator, then denominator
 *   char8                8 characters
 *   u16s u32s rationals  such values to the end of the payload
 *   text                 characters to the end of the payload
 *   ctext                u32 n, then n characters
 *   jpeg bytes           the rest of the payload (a JPEG image, other bytes)
 * A payload may be shorter than its layout or carry bytes beyond it.
 * @param code a property record code.
 * @return the name, a static string; NULL for a code the library does not know.
 */
const char *qdhPropertyName(uint16_t code);
/**
 * The payload layout of a property record code (see qdhPropertyName).
 * @param code a property record code.
 * @return the layout, a static string; NULL for a code the library does not know.
 */
const char *qdhPropertyLayout(uint16_t code);

/* ---- File stream ------------------------------------------------------- */

/**
 * Fills *stream with callbacks over the file at `path` (copied; passed to
 * fopen as it is). Does no file I/O: open opens the file with "rb" (mode 1),
 * "r+b" (mode 2: must exist, keeps its length unless written past the end)
 * or "w+b" (mode 3: created or truncated); close closes it and reports a
 * failed final flush as QDH_E_IO. Open refuses a directory
 * (QDH_E_OPEN_FAILED) and a file longer than 4 GiB - 1 (QDH_E_TOO_LARGE).
 * The stream keeps its own position and length, so the file must not be
 * changed by anyone else while it is open.
 * Returns 0, QDH_E_INVALID_ARG or QDH_E_NO_MEMORY; on failure *stream is
 * zeroed. Initialising a record that still holds a context leaks it.
 * @param stream the record to fill; required.
 * @param path   the file's path; required.
 * @return 0; QDH_E_INVALID_ARG for a null argument; QDH_E_NO_MEMORY.
 *         Release the stream with qdhStreamRelease.
 */
uint32_t qdhFileStreamInit(qdlStream *stream, const char *path);

/**
 * The OS error (errno) of the last QDH_E_OPEN_FAILED or QDH_E_IO of a file
 * stream.
 * @param stream a file stream.
 * @return the errno value; 0 when there was none or the stream is not a file stream.
 */
int qdhFileStreamOsError(const qdlStream *stream);

/* ---- Memory streams ---------------------------------------------------- */

/**
 * A fixed, read-only stream over `size` bytes of caller memory, which must
 * outlive the stream. The read-only kind accepts only QD_OPEN_READ (others fail with
 * QDH_E_READ_ONLY). The writable kind writes in place: its content may grow
 * up to `size` bytes (the capacity) and a write beyond fails with
 * QDH_E_NO_SPACE; QD_OPEN_WRITE empties the content without touching the
 * memory. `data` may be NULL only when `size` is 0.
 * @param stream the record to fill; required.
 * @param data   the memory; may be NULL only when size is 0.
 * @param size   bytes of `data`.
 * @return 0, QDH_E_INVALID_ARG or QDH_E_NO_MEMORY; on failure *stream is
 *         zeroed. Release the stream with qdhStreamRelease.
 */
uint32_t qdhMemoryStreamInit(qdlStream *stream, const void *data, uint32_t size);
/**
 * A fixed, writable stream over `size` bytes of caller memory, written in
 * place up to `size` bytes (QDH_E_NO_SPACE beyond); QD_OPEN_WRITE empties
 * the content without touching the memory. See qdhMemoryStreamInit.
 * @param stream the record to fill; required.
 * @param data   the memory; may be NULL only when size is 0.
 * @param size   the capacity in bytes.
 * @return 0, QDH_E_INVALID_ARG or QDH_E_NO_MEMORY; on failure *stream is
 *         zeroed. Release the stream with qdhStreamRelease.
 */
uint32_t qdhMemoryStreamInitWritable(qdlStream *stream, void *data, uint32_t size);

/**
 * A growable stream: starts empty and grows on write (up to 4 GiB - 1).
 * QD_OPEN_WRITE empties it; QD_OPEN_READ and QD_OPEN_UPDATE see what was
 * written before. Growth that fails is QDH_E_NO_MEMORY with nothing lost.
 * @param stream the record to fill; required.
 * @return 0, QDH_E_INVALID_ARG or QDH_E_NO_MEMORY. Release the stream with
 *         qdhStreamRelease.
 */
uint32_t qdhGrowableStreamInit(qdlStream *stream);

/**
 * The current content of any memory stream, open or not.
 * @param stream a memory stream.
 * @param data   receives the content's address, valid until the next write,
 *               open or release (NULL while a growable stream has never held
 *               data); required.
 * @param size   receives the content's length; required.
 * @return 0, or QDH_E_INVALID_ARG for a null argument or a stream that is not
 *         a memory stream (the outputs are then not written).
 */
uint32_t qdhMemoryStreamData(const qdlStream *stream, const void **data, uint32_t *size);

/* ---- Release ----------------------------------------------------------- */

/**
 * Frees what any qdh stream holds (closing a file left open, ignoring its
 * errors) and zeroes *stream. A zeroed or foreign record is left alone, so a
 * second release is harmless.
 * @param stream the stream; NULL does nothing.
 */
void qdhStreamRelease(qdlStream *stream);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* QDPARSE_HOST_H */
