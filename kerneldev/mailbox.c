// SPDX-License-Identifier: GPL-2.0
/*
 * The ZARN driver's mailbox node, emulated: the version query's one request,
 * answered from module parameters.
 */

#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/slab.h>
#include <linux/uaccess.h>

#include "zarnkdev.h"

/* The driver's request code, as its callers have it compiled in. */
#define ZARN_IOC_MAILBOX 0xC008420Au

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

struct mailbox_open {
	unsigned int answers;
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
	.release = zarn_node_release,
	.llseek = no_llseek,
	.read = mailbox_read,
	.write = mailbox_write,
	.unlocked_ioctl = mailbox_ioctl,
};

struct miscdevice zarn_mailbox_device = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "zarn_mailbox",
	.fops = &mailbox_fops,
};
