// SPDX-License-Identifier: GPL-2.0
/*
 * Where the emulated flash is kept: 4 KiB chunks in memory, allocated as they
 * are programmed, and, when it must outlive the machine, a block
 * device (a virtio disk whose image the host keeps) or a file, named by the
 * backing parameter. Every erase and program is written through to it and
 * flushed before the request returns, so that a machine killed at any moment
 * leaves on it exactly what the flash held, but for the request in progress.
 * That one is written in two halves, each flushed, so that power lost between
 * them leaves it half done, as a real part would.
 *
 * The store holds each byte inverted: an image that was never written (a
 * sparse file, a new disk) reads as zeros, which is an erased flash.
 */

#include <linux/err.h>
#include <linux/fs.h>
#include <linux/kernel.h>
#include <linux/moduleparam.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/xarray.h>

#include "zarnkdev.h"

/* The flash: chunk index to 4 KiB of content; a missing chunk is erased, or on the store. */
static DEFINE_XARRAY(chunks);

static char *backing;
module_param(backing, charp, 0444);
MODULE_PARM_DESC(backing, "block device or file that keeps the flash across power cuts (none: memory only)");

static struct file *store;

int zarn_backing_open(void)
{
	struct file *file;

	if (!backing || !*backing)
		return 0;
	file = filp_open(backing, O_RDWR | O_LARGEFILE, 0);
	if (IS_ERR(file)) {
		pr_err("zarnkdev: cannot open the backing store %s: %ld\n", backing, PTR_ERR(file));
		return PTR_ERR(file);
	}
	store = file;
	return 0;
}

void zarn_backing_close(void)
{
	if (store)
		filp_close(store, NULL);
	store = NULL;
}

bool zarn_backed(void)
{
	return store != NULL;
}

static void invert(u8 *bytes, size_t length)
{
	size_t i;

	for (i = 0; i < length; i++)
		bytes[i] = ~bytes[i];
}

int zarn_backing_load(u64 address, u8 *bytes, size_t length)
{
	loff_t position = address;
	size_t done = 0;

	while (done < length) {
		const ssize_t got = kernel_read(store, bytes + done, length - done, &position);

		if (got < 0)
			return got;
		/* Past the end of a short store: never written, so erased. */
		if (got == 0) {
			memset(bytes + done, 0, length - done);
			break;
		}
		done += got;
	}
	invert(bytes, length);
	return 0;
}

/* Writes length bytes (already inverted) at address and flushes them to the disk. */
static int write_through(u64 address, const u8 *bytes, size_t length)
{
	loff_t position = address;
	size_t done = 0;

	while (done < length) {
		const ssize_t wrote = kernel_write(store, bytes + done, length - done, &position);

		if (wrote <= 0)
			return wrote < 0 ? wrote : -EIO;
		done += wrote;
	}
	return vfs_fsync_range(store, address, address + length - 1, 1);
}

/* In two halves, each flushed: the second is where a cut tears the request. */
static int write_halves(u64 address, const u8 *bytes, size_t length)
{
	const size_t half = length / 2;
	int error = half ? write_through(address, bytes, half) : 0;

	return error ? error : write_through(address + half, bytes + half, length - half);
}

int zarn_backing_program(u64 address, const u8 *bytes, size_t length)
{
	u8 *inverted = kmemdup(bytes, length, GFP_KERNEL);
	int error;

	if (!inverted)
		return -ENOMEM;
	invert(inverted, length);
	error = write_halves(address, inverted, length);
	kfree(inverted);
	return error;
}

int zarn_backing_erase(u64 address, u64 length)
{
	u8 *zeros = kzalloc(length, GFP_KERNEL);
	int error;

	if (!zeros)
		return -ENOMEM;
	error = write_halves(address, zeros, length);
	kfree(zeros);
	return error;
}

/*
 * The chunk that holds address, brought in from the backing store when the
 * flash has one; NULL when the flash has none and the chunk was never
 * programmed (it is erased), or when the store cannot be read (*error).
 */
u8 *zarn_chunk_at(u64 address, int *error)
{
	const unsigned long index = address >> ZARN_CHUNK_SHIFT;
	u8 *chunk = xa_load(&chunks, index);

	if (chunk || !zarn_backed())
		return chunk;
	chunk = kmalloc(ZARN_CHUNK_SIZE, GFP_KERNEL);
	if (!chunk) {
		*error = -ENOMEM;
		return NULL;
	}
	*error = zarn_backing_load(address & ~(u64)(ZARN_CHUNK_SIZE - 1), chunk, ZARN_CHUNK_SIZE);
	if (!*error && xa_is_err(xa_store(&chunks, index, chunk, GFP_KERNEL)))
		*error = -ENOMEM;
	if (*error) {
		kfree(chunk);
		return NULL;
	}
	return chunk;
}

u8 *zarn_chunk_to_program(u64 address, int *error)
{
	const unsigned long index = address >> ZARN_CHUNK_SHIFT;
	u8 *chunk = zarn_chunk_at(address, error);

	if (chunk || *error)
		return chunk;
	*error = -ENOMEM;
	chunk = kmalloc(ZARN_CHUNK_SIZE, GFP_KERNEL);
	if (!chunk)
		return NULL;
	memset(chunk, 0xFF, ZARN_CHUNK_SIZE);
	if (xa_is_err(xa_store(&chunks, index, chunk, GFP_KERNEL))) {
		kfree(chunk);
		return NULL;
	}
	*error = 0;
	return chunk;
}

int zarn_erase_range(u64 start, u64 end)
{
	const u64 first = start;

	while (start < end) {
		const u64 chunk_start = start & ~(u64)(ZARN_CHUNK_SIZE - 1);
		const u64 stop = min(end, chunk_start + ZARN_CHUNK_SIZE);
		const unsigned long index = start >> ZARN_CHUNK_SHIFT;

		if (start == chunk_start && stop == chunk_start + ZARN_CHUNK_SIZE) {
			kfree(xa_erase(&chunks, index));
		} else {
			u8 *chunk = xa_load(&chunks, index);

			if (chunk)
				memset(chunk + (start - chunk_start), 0xFF, stop - start);
		}
		start = stop;
	}
	return zarn_backed() ? zarn_backing_erase(first, end - first) : 0;
}

void zarn_erase_all(void)
{
	unsigned long index;
	u8 *chunk;

	xa_for_each(&chunks, index, chunk)
		kfree(chunk);
	xa_destroy(&chunks);
}
