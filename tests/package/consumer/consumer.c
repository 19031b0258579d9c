/* A GenTL consumer built against an installed GEVTLKRV (its CMake package or
 * pkg-config file): it loads the producer from the path the package gave at
 * build time and checks that the library it opened is that file and answers
 * as GEVTLKRV. Exits 0 when all holds. */
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "GEVTLKRVInfo.h"
#include "GenTL.h"

#ifndef GEVTLKRV_CTI
#error "GEVTLKRV_CTI: the path of the producer, from the package"
#endif

static int Fail(const char* what) {
    fprintf(stderr, "consumer: %s\n", what);
    return 1;
}

/* A string info of the system module, or "" */
static void SystemInfo(PTLGetInfo getInfo, TL_HANDLE system, TL_INFO_CMD command, char* text,
                       size_t capacity) {
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    size_t size = capacity;
    text[0] = '\0';
    if (getInfo(system, command, &type, text, &size) != GC_ERR_SUCCESS ||
        type != INFO_DATATYPE_STRING)
        text[0] = '\0';
    text[capacity - 1] = '\0';
}

int main(void) {
    /* The producer's own info commands lie in the custom range. */
    if (STREAM_INFO_GEVTLKRV_RESEND_REQUESTED <= STREAM_INFO_CUSTOM_ID)
        return Fail("GEVTLKRVInfo.h: an info command outside the custom range");

    void* library = dlopen(GEVTLKRV_CTI, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "consumer: dlopen %s: %s\n", GEVTLKRV_CTI, dlerror());
        return 1;
    }
    PGCInitLib initLib = (PGCInitLib)dlsym(library, "GCInitLib");
    PGCCloseLib closeLib = (PGCCloseLib)dlsym(library, "GCCloseLib");
    PTLOpen tlOpen = (PTLOpen)dlsym(library, "TLOpen");
    PTLClose tlClose = (PTLClose)dlsym(library, "TLClose");
    PTLGetInfo tlGetInfo = (PTLGetInfo)dlsym(library, "TLGetInfo");
    if (!initLib || !closeLib || !tlOpen || !tlClose || !tlGetInfo)
        return Fail("a GenTL function is not exported");

    if (initLib() != GC_ERR_SUCCESS) return Fail("GCInitLib failed");
    TL_HANDLE system = NULL;
    if (tlOpen(&system) != GC_ERR_SUCCESS || system == NULL) return Fail("TLOpen failed");

    char model[256], version[256], path[PATH_MAX];
    SystemInfo(tlGetInfo, system, TL_INFO_MODEL, model, sizeof model);
    SystemInfo(tlGetInfo, system, TL_INFO_VERSION, version, sizeof version);
    SystemInfo(tlGetInfo, system, TL_INFO_PATHNAME, path, sizeof path);
    int status = 0;
    char expected[PATH_MAX], loaded[PATH_MAX];
    if (strcmp(model, "GEVTLKRV") != 0) {
        fprintf(stderr, "consumer: TL_INFO_MODEL is '%s'\n", model);
        status = 1;
    } else if (realpath(GEVTLKRV_CTI, expected) == NULL || realpath(path, loaded) == NULL ||
               strcmp(expected, loaded) != 0) {
        fprintf(stderr, "consumer: loaded '%s', the package names '%s'\n", path, GEVTLKRV_CTI);
        status = 1;
    } else {
        printf("consumer: %s %s from %s\n", model, version, loaded);
    }

    if (tlClose(system) != GC_ERR_SUCCESS) status = Fail("TLClose failed");
    if (closeLib() != GC_ERR_SUCCESS) status = Fail("GCCloseLib failed");
    dlclose(library);
    return status;
}
