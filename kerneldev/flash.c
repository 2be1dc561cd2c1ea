// SPDX-License-Identifier: GPL-2.0
/*
 * The emulated flash node: a sparse 32-bit address space, locked per open,
 * programmed by AND and erased a 128 KiB page at a time.
 */

#include <linux/fs.h>
#include <linux/hrtimer.h>
#include <linux/ktime.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/sched/signal.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#include "zarnkdev.h"

/* The driver's request codes, as its callers have them compiled in. */
#define ZARN_IOC_UNLOCK 0x40084232u
#define ZARN_IOC_ERASE_PAGE 0x4004423Cu

#define ZARN_SPACE (1ULL << 32)
#define ZARN_PAGE_SIZE 0x20000u
#define ZARN_KIB 1024u

static const char unlock_phrase[] = "heedful!!";

static DEFINE_MUTEX(flash_mutex);
static const u8 erased_chunk[ZARN_CHUNK_SIZE] = { [0 ... ZARN_CHUNK_SIZE - 1] = 0xFF };

/* What the device was asked to do, under flash_mutex. */
static struct {
	u64 unlocks;
	u64 refused_unlocks;
	u64 erases;
	u64 failed_erases;
	u64 writes;
	u64 programmed;
	u64 interrupted_writes;
	u64 locked_refusals;
	u64 writing; /* write calls inside the device now */
} stats;

struct flash_open {
	bool unlocked;
};

/*
 * Copies length bytes of flash from address to user memory, within one chunk,
 * with the stuck bits cleared as the part would read them.
 */
static int copy_out(u64 address, char __user *to, size_t length)
{
	int error = 0;
	const u8 *found = zarn_chunk_at(address, &error);
	const u8 *chunk = found ? found : erased_chunk;
	const u64 stuck = READ_ONCE(zarn_stuck_address);
	const u8 mask = READ_ONCE(zarn_stuck_mask);

	if (error)
		return error;
	if (copy_to_user(to, chunk + (address & (ZARN_CHUNK_SIZE - 1)), length))
		return -EFAULT;
	if (mask && stuck >= address && stuck < address + length) {
		const u8 byte = chunk[stuck & (ZARN_CHUNK_SIZE - 1)] & ~mask;

		if (put_user(byte, to + (stuck - address)))
			return -EFAULT;
	}
	return 0;
}

/* A read of the flash at *position, shared by the node and the debugfs file. */
ssize_t zarn_read_flash(char __user *buffer, size_t count, loff_t *position)
{
	const u64 start = *position;
	size_t done = 0;
	int error = 0;

	if (*position < 0)
		return -EINVAL;
	if (start >= ZARN_SPACE)
		return 0;
	count = min_t(u64, count, ZARN_SPACE - start);
	mutex_lock(&flash_mutex);
	while (done < count) {
		const u64 address = start + done;
		const size_t length =
			min_t(u64, count - done, ZARN_CHUNK_SIZE - (address & (ZARN_CHUNK_SIZE - 1)));

		error = copy_out(address, buffer + done, length);
		if (error)
			break;
		done += length;
	}
	mutex_unlock(&flash_mutex);
	if (done == 0 && error)
		return error;
	*position = start + done;
	return done;
}

/*
 * Waits, as a driver waits for the part to be ready, for the time it takes to
 * program length bytes. Returns false when a signal woke the caller first.
 */
static bool pace_programming(size_t length)
{
	const unsigned int delay = READ_ONCE(zarn_program_delay_us);
	ktime_t wait;

	if (!delay)
		return true;
	wait = ns_to_ktime((u64)delay * NSEC_PER_USEC * length / ZARN_KIB);
	set_current_state(TASK_INTERRUPTIBLE);
	schedule_hrtimeout(&wait, HRTIMER_MODE_REL);
	return !signal_pending(current);
}

static ssize_t flash_write(struct file *file, const char __user *buffer, size_t count,
			   loff_t *position)
{
	const struct flash_open *open = file->private_data;
	const u64 start = *position;
	size_t done = 0;
	int error = 0;
	u8 *bounce;

	if (!open->unlocked) {
		mutex_lock(&flash_mutex);
		stats.locked_refusals++;
		mutex_unlock(&flash_mutex);
		return -EPERM;
	}
	if (count == 0)
		return 0;
	if (*position < 0)
		return -EINVAL;
	if (start >= ZARN_SPACE)
		return -ENOSPC;
	count = min_t(u64, count, ZARN_SPACE - start);
	bounce = kmalloc(ZARN_KIB, GFP_KERNEL);
	if (!bounce)
		return -ENOMEM;

	mutex_lock(&flash_mutex);
	stats.writes++;
	stats.writing++;
	mutex_unlock(&flash_mutex);
	/* A KiB at a time, never across a chunk, the device idle between. */
	while (done < count) {
		const u64 address = start + done;
		const size_t length =
			min_t(u64, count - done, ZARN_KIB - (address & (ZARN_KIB - 1)));
		u8 *chunk;
		size_t i;

		/*
		 * A signal ends the write with what it has programmed, or
		 * before it has programmed anything: the kernel then makes the
		 * call again, or fails it with EINTR, as the caller's handler
		 * asks.
		 */
		if (!pace_programming(length)) {
			mutex_lock(&flash_mutex);
			stats.interrupted_writes++;
			mutex_unlock(&flash_mutex);
			if (done == 0)
				error = -ERESTARTSYS;
			break;
		}
		if (copy_from_user(bounce, buffer + done, length)) {
			error = -EFAULT;
			break;
		}
		mutex_lock(&flash_mutex);
		chunk = zarn_chunk_to_program(address, &error);
		if (chunk) {
			u8 *bytes = chunk + (address & (ZARN_CHUNK_SIZE - 1));

			for (i = 0; i < length; i++)
				bytes[i] &= bounce[i];
			if (zarn_backed())
				error = zarn_backing_program(address, bytes, length);
			stats.programmed += length;
		}
		mutex_unlock(&flash_mutex);
		if (error) {
			/* What the store failed to keep, the part has not kept either. */
			if (error != -ENOMEM)
				error = -EIO;
			break;
		}
		done += length;
	}
	mutex_lock(&flash_mutex);
	stats.writing--;
	mutex_unlock(&flash_mutex);
	kfree(bounce);

	if (done == 0)
		return error;
	*position = start + done;
	return done;
}

static ssize_t flash_read(struct file *file, char __user *buffer, size_t count, loff_t *position)
{
	return zarn_read_flash(buffer, count, position);
}

static loff_t flash_llseek(struct file *file, loff_t offset, int whence)
{
	if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
		return -EINVAL;
	return fixed_size_llseek(file, offset, whence, ZARN_SPACE);
}

static long flash_unlock(struct flash_open *open, unsigned long argument)
{
	char phrase[sizeof(unlock_phrase) + 1];
	const long length =
		strncpy_from_user(phrase, (const char __user *)argument, sizeof(phrase));
	const bool right = length >= 0 && length < sizeof(phrase) && strcmp(phrase, unlock_phrase) == 0;

	if (length < 0)
		return -EFAULT;
	mutex_lock(&flash_mutex);
	if (right)
		stats.unlocks++;
	else
		stats.refused_unlocks++;
	mutex_unlock(&flash_mutex);
	if (!right)
		return -EACCES;
	open->unlocked = true;
	return 0;
}

static long flash_erase(const struct flash_open *open, unsigned long argument)
{
	const u32 address = (u32)argument;
	long result = 0;

	mutex_lock(&flash_mutex);
	/* A fault comes before whatever else the request would meet. */
	if (zarn_erase_fails()) {
		stats.failed_erases++;
		result = -EIO;
	} else if (!open->unlocked) {
		stats.locked_refusals++;
		result = -EPERM;
	} else {
		result = zarn_erase_range(address, min_t(u64, (u64)address + ZARN_PAGE_SIZE, ZARN_SPACE));
		if (result)
			result = -EIO;
		stats.erases++;
	}
	mutex_unlock(&flash_mutex);
	return result;
}

static long flash_ioctl(struct file *file, unsigned int request, unsigned long argument)
{
	struct flash_open *open = file->private_data;

	switch (request) {
	case ZARN_IOC_UNLOCK:
		return flash_unlock(open, argument);
	case ZARN_IOC_ERASE_PAGE:
		return flash_erase(open, argument);
	default:
		return -ENOTTY;
	}
}

static int flash_open(struct inode *inode, struct file *file)
{
	struct flash_open *open = kzalloc(sizeof(*open), GFP_KERNEL);

	if (!open)
		return -ENOMEM;
	file->private_data = open;
	return 0;
}

int zarn_node_release(struct inode *inode, struct file *file)
{
	kfree(file->private_data);
	return 0;
}

static const struct file_operations flash_fops = {
	.owner = THIS_MODULE,
	.open = flash_open,
	.release = zarn_node_release,
	.llseek = flash_llseek,
	.read = flash_read,
	.write = flash_write,
	.unlocked_ioctl = flash_ioctl,
};

/* Mode and group are left to the system's device rules, as for the real driver. */
struct miscdevice zarn_flash_device = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "zarn_flash",
	.fops = &flash_fops,
};


/* What the device was asked to do, a count a line. */
void zarn_flash_stats(struct seq_file *file)
{
	mutex_lock(&flash_mutex);
	seq_printf(file, "unlocks %llu\n", stats.unlocks);
	seq_printf(file, "refused_unlocks %llu\n", stats.refused_unlocks);
	seq_printf(file, "erases %llu\n", stats.erases);
	seq_printf(file, "failed_erases %llu\n", stats.failed_erases);
	seq_printf(file, "writes %llu\n", stats.writes);
	seq_printf(file, "programmed %llu\n", stats.programmed);
	seq_printf(file, "interrupted_writes %llu\n", stats.interrupted_writes);
	seq_printf(file, "locked_refusals %llu\n", stats.locked_refusals);
	seq_printf(file, "writing %llu\n", stats.writing);
	mutex_unlock(&flash_mutex);
}

/*
 * Erases the whole flash and zeroes the counts, but not the writes under way.
 * A flash kept on a store is erased by whoever keeps the store.
 */
int zarn_flash_reset(void)
{
	if (zarn_backed())
		return -EBUSY;
	mutex_lock(&flash_mutex);
	zarn_erase_all();
	memset(&stats, 0, offsetof(typeof(stats), writing));
	mutex_unlock(&flash_mutex);
	return 0;
}
