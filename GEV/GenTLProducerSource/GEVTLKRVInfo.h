/* GEVTLKRV's own info commands, beyond the GenTL standard ones. A consumer asks
 * for them only when TL_INFO_VENDOR reads "Tarvane GmbH" and TL_INFO_MODEL
 * "GEVTLKRV": other producers give custom IDs meanings of their own. */
#pragma once

#include "GenTL.h"

#ifdef __cplusplus
namespace GenTL {
#endif

enum GEVTLKRV_STREAM_INFO_CMD_LIST {
    /* UINT64: packets of the running (or last) acquisition asked for again. */
    STREAM_INFO_GEVTLKRV_RESEND_REQUESTED = STREAM_INFO_CUSTOM_ID + 1,
    /* UINT64: packets still missing when their block was given out. */
    STREAM_INFO_GEVTLKRV_LOST_PACKETS = STREAM_INFO_CUSTOM_ID + 2,
    /* UINT64, since the stream was opened: frames the camera sent that were
     * neither delivered nor lost for want of a queued buffer (NUM_UNDERRUN):
     * block IDs never received, and frames still inside the producer when an
     * acquisition stopped. Delivered + underrun + lost frames = frames sent. */
    STREAM_INFO_GEVTLKRV_LOST_FRAMES = STREAM_INFO_CUSTOM_ID + 3,
    /* UINT64, since the stream was opened: delivered buffers with
     * BUFFER_INFO_IS_INCOMPLETE set (counted in NUM_DELIVERED too). */
    STREAM_INFO_GEVTLKRV_INCOMPLETE_FRAMES = STREAM_INFO_CUSTOM_ID + 4,
    /* UINT64, since the stream was opened: delivered buffers that the buffer
     * handling mode (OldestFirstOverwrite, NewestOnly) took back, refilled or
     * requeued, before the consumer took them (counted in NUM_DELIVERED too). */
    STREAM_INFO_GEVTLKRV_DISCARDED_FRAMES = STREAM_INFO_CUSTOM_ID + 5,
    /* UINT64: of the packets of RESEND_REQUESTED, those the camera sent again. */
    STREAM_INFO_GEVTLKRV_RESENT_PACKETS = STREAM_INFO_CUSTOM_ID + 6
};

#ifdef __cplusplus
} /* namespace GenTL */
#endif
