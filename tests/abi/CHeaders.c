/* The consumer headers as a C consumer includes them: both compile as C, and
 * what they define means the same in C as in C++ (checked by HeadersTest). */
#include "GEVTLKRVInfo.h"
#include "GenTL.h"

/* A C consumer's table of the functions it loads at run time. */
struct CConsumerTable {
    PGCGetInfo getInfo;
    PDSGetInfo streamInfo;
    PDSGetBufferPartInfo partInfo;
};

size_t CConsumerTableSize(void) {
    return sizeof(struct CConsumerTable);
}

int CStreamInfoResentPackets(void) {
    return STREAM_INFO_GEVTLKRV_RESENT_PACKETS;
}

int CStreamInfoDiscardedFrames(void) {
    return STREAM_INFO_GEVTLKRV_DISCARDED_FRAMES;
}
