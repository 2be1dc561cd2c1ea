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
 *
 * With the backing parameter the flash is kept on a disk and outlives the
 * machine (backing.c); without it, it lives in memory and dies with it.
 */

#include <linux/debugfs.h>
#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/seq_file.h>

#include "zarnkdev.h"

#define ZARN_SPACE (1ULL << 32)

static ssize_t debug_flash_read(struct file *file, char __user *buffer, size_t count,
				loff_t *position)
{
	return zarn_read_flash(buffer, count, position);
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
	zarn_flash_stats(file);
	return 0;
}
DEFINE_SHOW_ATTRIBUTE(stats);

static ssize_t debug_reset_write(struct file *file, const char __user *buffer, size_t count,
				 loff_t *position)
{
	const int error = zarn_flash_reset();

	return error ? error : count;
}

static const struct file_operations debug_reset_fops = {
	.owner = THIS_MODULE,
	.write = debug_reset_write,
	.llseek = noop_llseek,
};

static struct dentry *debug_dir;

static int __init zarnkdev_init(void)
{
	int error = zarn_backing_open();

	if (error)
		return error;
	error = misc_register(&zarn_flash_device);
	if (error) {
		zarn_backing_close();
		return error;
	}
	error = misc_register(&zarn_mailbox_device);
	if (error) {
		misc_deregister(&zarn_flash_device);
		zarn_backing_close();
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
	misc_deregister(&zarn_mailbox_device);
	misc_deregister(&zarn_flash_device);
	zarn_erase_all();
	zarn_backing_close();
}

module_init(zarnkdev_init);
module_exit(zarnkdev_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("The ZARN driver's flash and mailbox nodes, emulated for the project's checks");
