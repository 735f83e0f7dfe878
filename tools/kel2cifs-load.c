/* kel2cifs-load: loads a plug-in library into this process and unloads it again, the way the
 * console does (RTLD_NOW | RTLD_LOCAL), so that its load and unload routines run once each. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s PLUGIN.so\n", argv[0]);
        return 2;
    }
    void *handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (handle == NULL) {
        fprintf(stderr, "kel2cifs-load: %s\n", dlerror());
        return 1;
    }
    printf("loaded %s\n", argv[1]);
    if (dlclose(handle) != 0) {
        fprintf(stderr, "kel2cifs-load: %s\n", dlerror());
        return 1;
    }
    printf("unloaded %s\n", argv[1]);
    return 0;
}
