// SPDX-License-Identifier: GPL-2.0
/*
 * One request on /dev/zarn_flash, for the checks in the virtual machine that
 * the shell cannot make: busybox has no ioctl.
 *
 *   zarnpoke [-u PHRASE] write ADDRESS HEXBYTES
 *   zarnpoke [-u PHRASE] erase ADDRESS
 *
 * With -u the open is unlocked with PHRASE first. Prints "ok", or the cause
 * of the failing call ("unlock: Permission denied"), and exits 0 or 1.
 */

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define ZARN_IOC_UNLOCK 0x40084232ul
#define ZARN_IOC_ERASE_PAGE 0x4004423Cul

static int fail(const char *what)
{
	printf("%s: %s\n", what, strerror(errno));
	return 1;
}

int main(int argc, char **argv)
{
	const char *phrase = NULL;
	unsigned char bytes[256];
	size_t count = 0;
	unsigned long address;
	int fd;

	if (argc > 2 && strcmp(argv[1], "-u") == 0) {
		phrase = argv[2];
		argv += 2;
		argc -= 2;
	}
	if (argc < 3 || (strcmp(argv[1], "write") == 0) != (argc == 4)) {
		fprintf(stderr, "usage: zarnpoke [-u PHRASE] write ADDRESS HEXBYTES | erase ADDRESS\n");
		return 2;
	}
	address = strtoul(argv[2], NULL, 0);
	if (argc == 4)
		for (const char *hex = argv[3]; hex[0] && hex[1] && count < sizeof(bytes); hex += 2)
			sscanf(hex, "%2hhx", &bytes[count++]);

	fd = open("/dev/zarn_flash", O_RDWR);
	if (fd < 0)
		return fail("open");
	if (phrase && ioctl(fd, ZARN_IOC_UNLOCK, phrase) != 0)
		return fail("unlock");
	if (argc == 4) {
		if (pwrite(fd, bytes, count, (off_t)address) != (ssize_t)count)
			return fail("write");
	} else if (ioctl(fd, ZARN_IOC_ERASE_PAGE, address) != 0) {
		return fail("erase");
	}
	printf("ok\n");
	return 0;
}
