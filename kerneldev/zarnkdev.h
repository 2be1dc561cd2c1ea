/* SPDX-License-Identifier: GPL-2.0 */
/* What the two nodes of the emulated ZARN driver share. */
#ifndef ZARNKDEV_H
#define ZARNKDEV_H

#include <linux/fs.h>
#include <linux/miscdevice.h>

/* Frees an open's own state; both nodes keep theirs in private_data. */
int zarn_node_release(struct inode *inode, struct file *file);

extern struct miscdevice zarn_flash_device;
extern struct miscdevice zarn_mailbox_device;

struct seq_file;

/* The faults, set through module parameters. */
extern unsigned int zarn_program_delay_us;
extern unsigned int zarn_stuck_address;
extern unsigned int zarn_stuck_mask;
/* Counts an erase request; true for the one that is to fail. */
bool zarn_erase_fails(void);

/* A read of the flash at *position, shared by the node and the debugfs file. */
ssize_t zarn_read_flash(char __user *buffer, size_t count, loff_t *position);
void zarn_erase_all(void);
void zarn_flash_stats(struct seq_file *file);
int zarn_flash_reset(void);

/* The flash's content in 4 KiB chunks, under the flash's lock. */
#define ZARN_CHUNK_SHIFT 12
#define ZARN_CHUNK_SIZE (1u << ZARN_CHUNK_SHIFT)
u8 *zarn_chunk_at(u64 address, int *error);
u8 *zarn_chunk_to_program(u64 address, int *error);
int zarn_erase_range(u64 start, u64 end);

/* The store the flash is kept on, if the backing parameter names one. */
int zarn_backing_open(void);
void zarn_backing_close(void);
bool zarn_backed(void);
/* Length bytes at address, as the flash holds them. */
int zarn_backing_load(u64 address, u8 *bytes, size_t length);
/* Keeps what the flash now holds at address, or an erased range, written through. */
int zarn_backing_program(u64 address, const u8 *bytes, size_t length);
int zarn_backing_erase(u64 address, u64 length);

#endif
