/* A library with the version entry point of the extract engine but not its extract entry point. */
#include <stdint.h>

__attribute__((visibility("default"))) int32_t GetUnzDllVersion(void) {
    return 160;
}
