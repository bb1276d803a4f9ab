#include <cstdio>

#include "diskwarden/driver.h"

void cmd_usage(const char *program)
{
    fprintf(stderr, "HUMAXDISK can be:\n\n0: for \\\\.\\PhysicalDrive0\n1: for \\\\.\\PhysicalDrive1 etc.\n\n");
    fprintf(stderr, "Host <-> Humax disk\n===================\nUsage: %s [options] HUMAXDISK\n\n", program);
    fprintf(stderr, "  -b\t\tbackup all recordings from Humax disk to current directory\n");
    fprintf(stderr, "  -d <list>\tdelete recordings\n");
    fprintf(stderr, "  -g <list>\tget recordings to current directory\n");
    fprintf(stderr, "  -h\t\thelp (this text)\n");
    fprintf(stderr, "  -i <list>\tget info for recordings\n");
    fprintf(stderr, "  -l\t\tlist recordings\n");
    fprintf(stderr, "  -p <filename>\tput recording(s) onto Humax disk\n");
    fprintf(stderr, "  -u <list>\tunprotect recordings\n");
    fprintf(stderr, "  -v\t\tversion\n");
    fprintf(stderr, "  -x\t\textended listing for scopewise\n");
    fprintf(stderr, "  -w\t\tpause at the end waiting for a keypress\n");
    fprintf(stderr, "  -y\t\tanswer yes to all prompts\n");
    fprintf(stderr, "\n  Advanced Options\n");
    fprintf(stderr, "  -D\t\tDelete time shift recording buffers\n");
    fprintf(stderr, "  -E\t\tUpdate all synopsis/info data for version 1.00.20 or later\n");
    fprintf(stderr, "  -H <list>\tget hre files for recordings\n");
    fprintf(stderr, "  -M <n>\tmodify recording number n (use with -O & -V options)\n");
    fprintf(stderr, "  -O <n>\toffset for modify recording (use with -M & -V options)\n");
    fprintf(stderr, "  -V <n>\tmodify recording value (use with -M & -O options)\n");
    fprintf(stderr, "  -Z \t\tDelete EPG save data\n");
    fprintf(stderr, "\nHumax disk -> Humax disk\n========================\nUsage: %s [options] SRCHUMAXDISK DESTHUMAXDISK\n\n", program);
    fprintf(stderr, "  -b\t\tbackup all recordings from source Humax disk\n");
    fprintf(stderr, "                and copy to destination Humax disk\n");
    fprintf(stderr, "  -g <list>\tget recordings from source disk\n");
    fprintf(stderr, "                and copy to destination Humax disk\n");
    fprintf(stderr, "\nRecovery mode - use if record list is missing/corrupt\n=============\nUsage: %s -r [options] HUMAXDISK\n\n", program);
    fprintf(stderr, "  -i <list>\tget info for recordings\n");
    fprintf(stderr, "  -l\t\tlist recordings\n");
    fprintf(stderr, "  -n\t\tno info - use if corruption is really bad\n");
    fprintf(stderr, "  -g <list>\tget recordings to current directory as recover_nnnn.ts\n");
    fprintf(stderr, "\nFailing drives - copies go on past unreadable sectors (zeros in their place)\n==============\n");
    fprintf(stderr, "  A copy with unreadable sectors keeps its name, with NAME.map beside it (a GNU\n");
    fprintf(stderr, "  ddrescue mapfile); the run ends with status 1 and names each damaged copy.\n");
    fprintf(stderr, "  Running -g or -b again reads only the missing sectors and completes the copy.\n");
    fprintf(stderr, "  --retries <n>\tread each unreadable sector n more times (default 0)\n");
    fprintf(stderr, "  --bad-map <mapfile>\n\t\twith -g or -b from a partial GNU ddrescue image: what the map\n");
    fprintf(stderr, "                does not mark finished counts as unreadable\n");
    fprintf(stderr, "Usage: %s --domain-map <mapfile> [-g <list>] HUMAXDISK\n", program);
    fprintf(stderr, "  writes a GNU ddrescue domain mapfile of the disk's own structures (and of\n");
    fprintf(stderr, "  the listed recordings): ddrescue --domain-mapfile images them first\n");
    fprintf(stderr, "\nExample of a list: 10-20,30,41-42\n");
    fprintf(stderr, "\nChecking and repairing - before writing to a disk, and after anything went wrong\n======================\n");
    fprintf(stderr, "Usage: %s --check [--bad-map MAPFILE] HUMAXDISK\n       %s --repair [-y] HUMAXDISK\n\n", program, program);
    fprintf(stderr, "  --check\tcheck the disk and change nothing\n");
    fprintf(stderr, "  --repair\tcheck, then repair what is safe, after one question;\n");
    fprintf(stderr, "                what it would free is first saved to the current directory\n");
    fprintf(stderr, "  --bad-map <mapfile>\n\t\tname the recordings in areas a GNU ddrescue mapfile marks unread\n");
    fprintf(stderr, "  Exit status: 0 no problem, 1 all repaired, 4 problems left,\n");
    fprintf(stderr, "               8 disk, map or host file failed, 16 wrong command line (added up)\n");
    fprintf(stderr, "\nFinding lost recordings - deleted ones, and those on a disk whose tables are gone\n=======================\n");
    fprintf(stderr, "Usage: %s --carve [-l] [-g <list>] HUMAXDISK\n       %s --carve-all [-l] [-g <list>] HUMAXDISK\n\n", program, program);
    fprintf(stderr, "  --carve\tsearch the clusters that no file holds (deleted recordings)\n");
    fprintf(stderr, "  --carve-all\tsearch every cluster (allocation table or directory lost)\n");
    fprintf(stderr, "  -l\t\tlist the streams found (the default)\n");
    fprintf(stderr, "  -g <list>\tcopy found streams to current directory as found_nnnn.ts\n");
    fprintf(stderr, "  The disk is only read. A found stream is a transport stream: make its header\n");
    fprintf(stderr, "  with reelhead, then put it back with -p.\n");
    fprintf(stderr, "\nFor scripts and front-ends\n==========================\n");
    fprintf(stderr, "  --json\tthe output of -l, -i, -r -l, -r -i, --check and --repair as one\n");
    fprintf(stderr, "                JSON document (questions need -y)\n");
    fprintf(stderr, "  --progress-fd <n>\n\t\tprogress of copies and checks as lines on descriptor n\n");
}
