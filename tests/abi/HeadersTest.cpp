// The consumer headers: a function pointer type for every exported function,
// exactly of its signature, and the producer's own info commands readable from C.
#include <gtest/gtest.h>

#include <type_traits>

#include "GEVTLKRVInfo.h"
#include "GenTL.h"

extern "C" {
size_t CConsumerTableSize(void);
int CStreamInfoResentPackets(void);
int CStreamInfoDiscardedFrames(void);
}

namespace {

using namespace GenTL;

#define EXPECT_POINTER_TYPE(name) static_assert(std::is_same_v<P##name, decltype(&name)>, #name)
EXPECT_POINTER_TYPE(GCGetInfo);
EXPECT_POINTER_TYPE(GCGetLastError);
EXPECT_POINTER_TYPE(GCInitLib);
EXPECT_POINTER_TYPE(GCCloseLib);
EXPECT_POINTER_TYPE(GCReadPort);
EXPECT_POINTER_TYPE(GCWritePort);
EXPECT_POINTER_TYPE(GCGetPortURL);
EXPECT_POINTER_TYPE(GCGetPortInfo);
EXPECT_POINTER_TYPE(GCRegisterEvent);
EXPECT_POINTER_TYPE(GCUnregisterEvent);
EXPECT_POINTER_TYPE(EventGetData);
EXPECT_POINTER_TYPE(EventGetDataInfo);
EXPECT_POINTER_TYPE(EventGetInfo);
EXPECT_POINTER_TYPE(EventFlush);
EXPECT_POINTER_TYPE(EventKill);
EXPECT_POINTER_TYPE(TLOpen);
EXPECT_POINTER_TYPE(TLClose);
EXPECT_POINTER_TYPE(TLGetInfo);
EXPECT_POINTER_TYPE(TLGetNumInterfaces);
EXPECT_POINTER_TYPE(TLGetInterfaceID);
EXPECT_POINTER_TYPE(TLGetInterfaceInfo);
EXPECT_POINTER_TYPE(TLOpenInterface);
EXPECT_POINTER_TYPE(TLUpdateInterfaceList);
EXPECT_POINTER_TYPE(IFClose);
EXPECT_POINTER_TYPE(IFGetInfo);
EXPECT_POINTER_TYPE(IFGetNumDevices);
EXPECT_POINTER_TYPE(IFGetDeviceID);
EXPECT_POINTER_TYPE(IFUpdateDeviceList);
EXPECT_POINTER_TYPE(IFGetDeviceInfo);
EXPECT_POINTER_TYPE(IFOpenDevice);
EXPECT_POINTER_TYPE(DevGetPort);
EXPECT_POINTER_TYPE(DevGetNumDataStreams);
EXPECT_POINTER_TYPE(DevGetDataStreamID);
EXPECT_POINTER_TYPE(DevOpenDataStream);
EXPECT_POINTER_TYPE(DevGetInfo);
EXPECT_POINTER_TYPE(DevClose);
EXPECT_POINTER_TYPE(DSAnnounceBuffer);
EXPECT_POINTER_TYPE(DSAllocAndAnnounceBuffer);
EXPECT_POINTER_TYPE(DSFlushQueue);
EXPECT_POINTER_TYPE(DSStartAcquisition);
EXPECT_POINTER_TYPE(DSStopAcquisition);
EXPECT_POINTER_TYPE(DSGetInfo);
EXPECT_POINTER_TYPE(DSGetBufferID);
EXPECT_POINTER_TYPE(DSClose);
EXPECT_POINTER_TYPE(DSRevokeBuffer);
EXPECT_POINTER_TYPE(DSQueueBuffer);
EXPECT_POINTER_TYPE(DSGetBufferInfo);
EXPECT_POINTER_TYPE(GCGetNumPortURLs);
EXPECT_POINTER_TYPE(GCGetPortURLInfo);
EXPECT_POINTER_TYPE(GCReadPortStacked);
EXPECT_POINTER_TYPE(GCWritePortStacked);
EXPECT_POINTER_TYPE(DSGetBufferChunkData);
EXPECT_POINTER_TYPE(IFGetParentTL);
EXPECT_POINTER_TYPE(DevGetParentIF);
EXPECT_POINTER_TYPE(DSGetParentDev);
EXPECT_POINTER_TYPE(DSGetNumBufferParts);
EXPECT_POINTER_TYPE(DSGetBufferPartInfo);
EXPECT_POINTER_TYPE(DSGetBufferInfoStacked);
EXPECT_POINTER_TYPE(DSGetBufferPartInfoStacked);
EXPECT_POINTER_TYPE(DSGetNumFlows);
EXPECT_POINTER_TYPE(DSGetFlowInfo);
EXPECT_POINTER_TYPE(DSGetNumBufferSegments);
EXPECT_POINTER_TYPE(DSGetBufferSegmentInfo);
EXPECT_POINTER_TYPE(DSAnnounceCompositeBuffer);
#undef EXPECT_POINTER_TYPE

TEST(ConsumerHeaders, CompileAsCWithTheSameValues) {
    EXPECT_EQ(CStreamInfoResentPackets(), STREAM_INFO_GEVTLKRV_RESENT_PACKETS);
    EXPECT_EQ(CStreamInfoDiscardedFrames(), STREAM_INFO_GEVTLKRV_DISCARDED_FRAMES);
    EXPECT_EQ(CConsumerTableSize(), 3 * sizeof(PGCGetInfo));
}

}  // namespace
