// SPDX-License-Identifier: GPL-2.0
/*
 * The ZARN driver's two nodes, played by a kernel module so that the product
 * can be run against real device files in a virtual machine: the kernel then
 * does its part of open, ioctl, lseek, read, write, flock, fstat, permissions
 * and signals. A test fixture of the project: never installed, never packaged.
 *
 * /dev/zarn_flash: the 32-bit flash address space, erased (0xFF) at load and
 * stored sparsely in 4 KiB chunks, so that only what is programmed costs
 * memory. Each open starts locked; the unlock request with the phrase unlocks
 * that open. A write programs by AND (it can only clear bits), the page-erase
 * request sets the 128 KiB from the address given to 0xFF, cut at 4 GiB.
 *
 * /dev/zarn_mailbox: the request ioctl answers the three version commands.
 *
 * debugfs zarn/flash reads the flash's bytes as they are, zarn/stats counts
 * what the device was asked to do, and a write to zarn/reset erases the whole
 * flash and zeroes the counts.
 */

#include <linux/debugfs.h>
#include <linux/fs.h>
#include <linux/hrtimer.h>
#include <linux/ktime.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/mutex.h>
#include <linux/sched/signal.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/uaccess.h>
#include <linux/xarray.h>

/* The driver's request codes, as its callers have them compiled in. */
#define ZARN_IOC_UNLOCK 0x40084232u
#define ZARN_IOC_ERASE_PAGE 0x4004423Cu
#define ZARN_IOC_MAILBOX 0xC008420Au

#define ZARN_SPACE (1ULL << 32)
#define ZARN_PAGE_SIZE 0x20000u
#define ZARN_KIB 1024u
#define CHUNK_SHIFT 12
#define CHUNK_SIZE (1u << CHUNK_SHIFT)

static const char unlock_phrase[] = "heedful!!";

/* The mailbox's commands, and what every answer leaves in the reserved words. */
#define MAILBOX_SW_VERSION 0x101u
#define MAILBOX_HW_TIMESTAMP 0x201u
#define MAILBOX_PID_VERSION 0x301u
#define MAILBOX_RESERVED_ANSWER 0xA5A5A5A5u
#define MAILBOX_WORDS 8

static unsigned int sw_version = 0x04030201;
module_param(sw_version, uint, 0644);
MODULE_PARM_DESC(sw_version, "mailbox answer to 0x101, the software version");

static unsigned int hw_timestamp = 1394614800;
module_param(hw_timestamp, uint, 0644);
MODULE_PARM_DESC(hw_timestamp, "mailbox answer to 0x201, the hardware timestamp");

static unsigned int pid_version = 0x00020301;
module_param(pid_version, uint, 0644);
MODULE_PARM_DESC(pid_version, "mailbox answer to 0x301, the PID version");

static unsigned int mailbox_flags;
module_param(mailbox_flags, uint, 0644);
MODULE_PARM_DESC(mailbox_flags, "flag word left in command after the first answer on an open");

static unsigned int program_delay_us;
module_param(program_delay_us, uint, 0644);
MODULE_PARM_DESC(program_delay_us,
		 "microseconds a write waits before each KiB it programs; a signal ends the wait");

static unsigned int stuck_address;
module_param(stuck_address, uint, 0644);
MODULE_PARM_DESC(stuck_address, "flash address of the byte that has stuck bits");

static unsigned int stuck_mask;
module_param(stuck_mask, uint, 0644);
MODULE_PARM_DESC(stuck_mask, "bits of that byte that read 0 whatever happens (0: none)");

/* Erase requests are counted from the last time fail_erase was set. */
static atomic_t erase_requests = ATOMIC_INIT(0);
static unsigned int fail_erase;

static int set_fail_erase(const char *value, const struct kernel_param *kp)
{
	const int error = param_set_uint(value, kp);

	if (!error)
		atomic_set(&erase_requests, 0);
	return error;
}

static const struct kernel_param_ops fail_erase_ops = {
	.set = set_fail_erase,
	.get = param_get_uint,
};
module_param_cb(fail_erase, &fail_erase_ops, &fail_erase, 0644);
MODULE_PARM_DESC(fail_erase, "the n-th erase request from now fails with EIO (0: none)");

/* The flash: chunk index to 4 KiB of content; a missing chunk is erased. */
static DEFINE_XARRAY(chunks);
static DEFINE_MUTEX(flash_mutex);
static const u8 erased_chunk[CHUNK_SIZE] = { [0 ... CHUNK_SIZE - 1] = 0xFF };

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

struct mailbox_open {
	unsigned int answers;
};

static const u8 *chunk_to_read(u64 address)
{
	const u8 *chunk = xa_load(&chunks, address >> CHUNK_SHIFT);

	return chunk ? chunk : erased_chunk;
}

static u8 *chunk_to_program(u64 address)
{
	const unsigned long index = address >> CHUNK_SHIFT;
	u8 *chunk = xa_load(&chunks, index);

	if (chunk)
		return chunk;
	chunk = kmalloc(CHUNK_SIZE, GFP_KERNEL);
	if (!chunk)
		return NULL;
	memset(chunk, 0xFF, CHUNK_SIZE);
	if (xa_is_err(xa_store(&chunks, index, chunk, GFP_KERNEL))) {
		kfree(chunk);
		return NULL;
	}
	return chunk;
}

static void erase_range(u64 start, u64 end)
{
	while (start < end) {
		const u64 chunk_start = start & ~(u64)(CHUNK_SIZE - 1);
		const u64 stop = min(end, chunk_start + CHUNK_SIZE);
		const unsigned long index = start >> CHUNK_SHIFT;

		if (start == chunk_start && stop == chunk_start + CHUNK_SIZE) {
			kfree(xa_erase(&chunks, index));
		} else {
			u8 *chunk = xa_load(&chunks, index);

			if (chunk)
				memset(chunk + (start - chunk_start), 0xFF, stop - start);
		}
		start = stop;
	}
}

static void erase_all(void)
{
	unsigned long index;
	u8 *chunk;

	xa_for_each(&chunks, index, chunk)
		kfree(chunk);
	xa_destroy(&chunks);
}

/*
 * Copies length bytes of flash from address to user memory, within one chunk,
 * with the stuck bits cleared as the part would read them.
 */
static int copy_out(u64 address, char __user *to, size_t length)
{
	const u8 *chunk = chunk_to_read(address);
	const u64 stuck = READ_ONCE(stuck_address);
	const u8 mask = READ_ONCE(stuck_mask);

	if (copy_to_user(to, chunk + (address & (CHUNK_SIZE - 1)), length))
		return -EFAULT;
	if (mask && stuck >= address && stuck < address + length) {
		const u8 byte = chunk[stuck & (CHUNK_SIZE - 1)] & ~mask;

		if (put_user(byte, to + (stuck - address)))
			return -EFAULT;
	}
	return 0;
}

/* A read of the flash at *position, shared by the node and the debugfs file. */
static ssize_t read_flash(char __user *buffer, size_t count, loff_t *position)
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
			min_t(u64, count - done, CHUNK_SIZE - (address & (CHUNK_SIZE - 1)));

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
	const unsigned int delay = READ_ONCE(program_delay_us);
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
		chunk = chunk_to_program(address);
		if (chunk) {
			u8 *bytes = chunk + (address & (CHUNK_SIZE - 1));

			for (i = 0; i < length; i++)
				bytes[i] &= bounce[i];
			stats.programmed += length;
		}
		mutex_unlock(&flash_mutex);
		if (!chunk) {
			error = -ENOMEM;
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
	return read_flash(buffer, count, position);
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
	const unsigned int failing = READ_ONCE(fail_erase);
	long result = 0;

	mutex_lock(&flash_mutex);
	/* A fault comes before whatever else the request would meet. */
	if (atomic_inc_return(&erase_requests) == failing && failing != 0) {
		stats.failed_erases++;
		result = -EIO;
	} else if (!open->unlocked) {
		stats.locked_refusals++;
		result = -EPERM;
	} else {
		erase_range(address, min_t(u64, (u64)address + ZARN_PAGE_SIZE, ZARN_SPACE));
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

static int node_release(struct inode *inode, struct file *file)
{
	kfree(file->private_data);
	return 0;
}

static const struct file_operations flash_fops = {
	.owner = THIS_MODULE,
	.open = flash_open,
	.release = node_release,
	.llseek = flash_llseek,
	.read = flash_read,
	.write = flash_write,
	.unlocked_ioctl = flash_ioctl,
};

static long mailbox_ioctl(struct file *file, unsigned int request, unsigned long argument)
{
	struct mailbox_open *open = file->private_data;
	void __user *record = (void __user *)argument;
	u32 words[MAILBOX_WORDS];
	int i;

	if (request != ZARN_IOC_MAILBOX)
		return -ENOTTY;
	if (copy_from_user(words, record, sizeof(words)))
		return -EFAULT;
	switch (words[0]) {
	case MAILBOX_SW_VERSION:
		words[1] = READ_ONCE(sw_version);
		break;
	case MAILBOX_HW_TIMESTAMP:
		words[1] = READ_ONCE(hw_timestamp);
		break;
	case MAILBOX_PID_VERSION:
		words[1] = READ_ONCE(pid_version);
		break;
	default:
		return -EINVAL;
	}
	/* The reserved words are the driver's to fill; a caller must not reuse them. */
	for (i = 2; i < MAILBOX_WORDS; i++)
		words[i] = MAILBOX_RESERVED_ANSWER;
	if (++open->answers == 1)
		words[0] = READ_ONCE(mailbox_flags);
	if (copy_to_user(record, words, sizeof(words)))
		return -EFAULT;
	return 0;
}

static ssize_t mailbox_read(struct file *file, char __user *buffer, size_t count, loff_t *position)
{
	return -EINVAL;
}

static ssize_t mailbox_write(struct file *file, const char __user *buffer, size_t count,
			     loff_t *position)
{
	return -EINVAL;
}

static int mailbox_open(struct inode *inode, struct file *file)
{
	struct mailbox_open *open = kzalloc(sizeof(*open), GFP_KERNEL);

	if (!open)
		return -ENOMEM;
	file->private_data = open;
	return 0;
}

static const struct file_operations mailbox_fops = {
	.owner = THIS_MODULE,
	.open = mailbox_open,
	.release = node_release,
	.llseek = no_llseek,
	.read = mailbox_read,
	.write = mailbox_write,
	.unlocked_ioctl = mailbox_ioctl,
};

/* Mode and group are left to the system's device rules, as for the real driver. */
static struct miscdevice flash_device = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "zarn_flash",
	.fops = &flash_fops,
};

static struct miscdevice mailbox_device = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "zarn_mailbox",
	.fops = &mailbox_fops,
};

static ssize_t debug_flash_read(struct file *file, char __user *buffer, size_t count,
				loff_t *position)
{
	return read_flash(buffer, count, position);
}

static loff_t debug_flash_llseek(struct file *file, loff_t offset, int whence)
{
	return fixed_size_llseek(file, offset, whence, ZARN_SPACE);
}

static const struct file_operations debug_flash_fops = {
	.owner = THIS_MODULE,
	.read = debug_flash_read,
	.llseek = debug_flash_llseek,
};

static int stats_show(struct seq_file *file, void *unused)
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
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(stats);

static ssize_t debug_reset_write(struct file *file, const char __user *buffer, size_t count,
				 loff_t *position)
{
	mutex_lock(&flash_mutex);
	erase_all();
	memset(&stats, 0, offsetof(typeof(stats), writing));
	mutex_unlock(&flash_mutex);
	return count;
}

static const struct file_operations debug_reset_fops = {
	.owner = THIS_MODULE,
	.write = debug_reset_write,
	.llseek = noop_llseek,
};

static struct dentry *debug_dir;

static int __init zarnkdev_init(void)
{
	int error = misc_register(&flash_device);

	if (error)
		return error;
	error = misc_register(&mailbox_device);
	if (error) {
		misc_deregister(&flash_device);
		return error;
	}
	debug_dir = debugfs_create_dir("zarn", NULL);
	debugfs_create_file("flash", 0400, debug_dir, NULL, &debug_flash_fops);
	debugfs_create_file("stats", 0444, debug_dir, NULL, &stats_fops);
	debugfs_create_file("reset", 0200, debug_dir, NULL, &debug_reset_fops);
	return 0;
}

static void __exit zarnkdev_exit(void)
{
	debugfs_remove_recursive(debug_dir);
	misc_deregister(&mailbox_device);
	misc_deregister(&flash_device);
	erase_all();
}

module_init(zarnkdev_init);
module_exit(zarnkdev_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("The ZARN driver's flash and mailbox nodes, emulated for the project's checks");
