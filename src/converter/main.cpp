#include <cstdio>

int main()
{
    fprintf(stderr, "reelhead version 0.08 - diskwarden project\n");
    return 0;
}
