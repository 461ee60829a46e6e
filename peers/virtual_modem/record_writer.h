// Variable-size telephony records: the fixed part, then the strings and
// blocks the fields point at, with the modem's hostile modes.
#pragma once

#include "peers/virtual_modem/modem_state.h"
#include "platform/tapi_record.h"

namespace vmodem_impl {

// The record layout with the modem's hostile modes: Finish bends the
// offsets and sizes as vmodem_SetHostile says, then overwrites the record
// from the stream of vmodem_SetRecordBytes.
class RecordWriter : public tapirec::RecordLayout {
public:
    using RecordLayout::RecordLayout;
    void Finish();

private:
    void Overwrite();
};

using tapirec::Bytes;
using tapirec::ClearRecord;
using tapirec::TotalSize;
using tapirec::WithZero;

}  // namespace vmodem_impl
