// SPDX-License-Identifier: GPL-2.0
/* The faults a check may set on the emulated flash, as module parameters. */

#include <linux/atomic.h>
#include <linux/compiler.h>
#include <linux/moduleparam.h>

#include "zarnkdev.h"

unsigned int zarn_program_delay_us;
module_param_named(program_delay_us, zarn_program_delay_us, uint, 0644);
MODULE_PARM_DESC(program_delay_us,
		 "microseconds a write waits before each KiB it programs; a signal ends the wait");

unsigned int zarn_stuck_address;
module_param_named(stuck_address, zarn_stuck_address, uint, 0644);
MODULE_PARM_DESC(stuck_address, "flash address of the byte that has stuck bits");

unsigned int zarn_stuck_mask;
module_param_named(stuck_mask, zarn_stuck_mask, uint, 0644);
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

bool zarn_erase_fails(void)
{
	const unsigned int failing = READ_ONCE(fail_erase);

	return atomic_inc_return(&erase_requests) == failing && failing != 0;
}
