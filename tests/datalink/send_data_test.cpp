// SendData: the port of a data call taken, configured, written and closed;
// every result code with its debug text and box.
#include "tests/datalink/datalink_fixture.h"

using SendDataTest = DataLinkTest;

TEST_F(SendDataTest, AStringArrivesByteForByteAndASecondSendOnTheCallWorks) {
    ConnectData();
    // Line ends, a zero-free binary run and GBK text (bytes above 0x7F) go
    // unconverted.
    std::string text = "AT\r\nline\n\x01\x7f\x80\xff 您的余额";
    EXPECT_EQ(ctrl->SendData(text), 0);
    EXPECT_EQ(Received(), text);
    EXPECT_EQ(Debug(), (Texts{kConnected}));
    EXPECT_TRUE(sim::MessageBoxes().empty());
    // The port, its event and the identifier buffer are gone again.
    EXPECT_EQ(link().CommHandle, nullptr);
    EXPECT_EQ(sim::OpenCommPorts(), 0);
    EXPECT_EQ(sim::LiveEvents(), 0);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);

    EXPECT_EQ(ctrl->SendData("again"), 0);
    EXPECT_EQ(Received(), "again");
    EXPECT_EQ(Debug(), (Texts{kConnected, kConnected}));
    EXPECT_EQ(vmodem_DataPortsLent(0), 2);
    // Up to the first zero only; nothing is logged and no event fires.
    EXPECT_EQ(ctrl->SendData(std::string("ab\0cd", 5)), 0);
    EXPECT_EQ(Received(), "ab");
    EXPECT_EQ(sink.count(EVENT_DisConnected), 0);
}

TEST_F(SendDataTest, AnEmptyStringTakesThePortWritesNothingAndReturnsZero) {
    ConnectData();
    EXPECT_EQ(ctrl->SendData(""), 0);
    EXPECT_EQ(vmodem_DataReceived(0), 0u);
    EXPECT_EQ(sim::CommWriteCalls(), 0);
    EXPECT_EQ(vmodem_DataPortsLent(0), 1);
    EXPECT_EQ(Debug(), (Texts{kConnected}));
    EXPECT_EQ(sim::OpenCommPorts(), 0);
}

TEST_F(SendDataTest, AnOutgoingCallAnsweredByADataModemCarriesData) {
    OpenDefaultLine();
    ASSERT_EQ(vmodem_SetOutgoingMedia(0, LINEMEDIAMODE_DATAMODEM), 0);
    vmodem_SetOutgoing(0, VMODEM_OUTGOING_ANSWER, 1000);
    ASSERT_EQ(ctrl->CallOut(0, "5551234"), 0);
    sim::RunFor(2 * sim::kSecond);
    ASSERT_EQ(sink.count(EVENT_IsConnect), 1);
    EXPECT_EQ(vmodem_CallMediaMode(vmodem_CurrentCall(0)), static_cast<uint32_t>(LINEMEDIAMODE_DATAMODEM));
    EXPECT_EQ(ctrl->SendData("ATDT"), 0);
    EXPECT_EQ(Received(), "ATDT");
}

TEST_F(SendDataTest, WithoutACallOrWhenTheQueryFailsTheResultIsMinusTwoWithoutTrace) {
    OpenDefaultLine();
    EXPECT_EQ(ctrl->SendData("x"), -2);
    EXPECT_TRUE(Debug().empty());
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);

    ConnectIncoming();
    HCALL data = 0;
    // The query itself refused.
    ctrl->HandUp();
    Pump();
    data = vmodem_OfferData(0, nullptr);
    Pump();
    ctrl->AnswerTp();
    Pump();
    ASSERT_NE(data, 0u);
    vmodem_Refuse("lineGetIDA", static_cast<int32_t>(LINEERR_OPERATIONFAILED));
    EXPECT_EQ(ctrl->SendData("x"), -2);
    EXPECT_TRUE(Debug().empty());
    vmodem_Refuse("lineGetIDA", 0);
    // The provider closed the port of a call that goes on.
    ASSERT_EQ(vmodem_DataClosePort(0), 0);
    EXPECT_EQ(ctrl->SendData("x"), -2);
    EXPECT_EQ(vmodem_DataReceived(0), 0u);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);
}

TEST_F(SendDataTest, AHandleThatIsNoPortShowsCaptionOneAndGivesMinusFour) {
    OpenDefaultLine();
    ConnectIncoming();  // a voice call: the modem answers what it was given
    HANDLE file = CreateFileA("plain.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    vmodem_SetDataPort(0, file, "COM1");
    int filesBefore = sim::OpenFileHandles();
    EXPECT_EQ(ctrl->SendData("x"), -4);
    // The box comes first, then the text; no owner, an OK button.
    EXPECT_EQ(trace, (Texts{std::string("debug:") + kConnected, "box:1/err",
                            "debug:File handle is not a comm handle.\n"}));
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].owner, nullptr);
    EXPECT_EQ(sim::MessageBoxes()[0].type, static_cast<UINT>(MB_OK));
    // The lent handle was the control's to close.
    EXPECT_EQ(sim::OpenFileHandles(), filesBefore - 1);
    EXPECT_EQ(link().CommHandle, nullptr);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);

    // No port at all (a voice call's null handle) is refused the same way.
    vmodem_SetDataPort(0, nullptr, "");
    trace.clear();
    EXPECT_EQ(ctrl->SendData("x"), -4);
    EXPECT_EQ(trace, (Texts{std::string("debug:") + kConnected, "box:1/err",
                            "debug:File handle is not a comm handle.\n"}));
}

TEST_F(SendDataTest, ARecordWhoseStringLiesOutsideItHoldsNoPort) {
    ConnectData();
    for (int kind : {VMODEM_HOSTILE_OFFSET, VMODEM_HOSTILE_WRAP, VMODEM_HOSTILE_USED}) {
        SCOPED_TRACE(kind);
        vmodem_SetHostile(kind);
        trace.clear();
        EXPECT_EQ(ctrl->SendData("x"), -4);
        EXPECT_EQ(trace, (Texts{std::string("debug:") + kConnected, "box:1/err",
                                "debug:File handle is not a comm handle.\n"}));
    }
    vmodem_SetHostile(VMODEM_HOSTILE_NONE);
    EXPECT_EQ(vmodem_DataReceived(0), 0u);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);
    EXPECT_EQ(ctrl->SendData("x"), 0);
    EXPECT_EQ(Received(), "x");
}

TEST_F(SendDataTest, APortAlreadyHeldRefusesTheNextWithCaptionTwo) {
    ConnectData();
    HANDLE held = OwnPort();
    ASSERT_EQ(link().TakeCommHandle(held), 1);
    EXPECT_EQ(link().CommHandle, held);
    EXPECT_EQ(ctrl->SendData("x"), -4);
    // The text comes first, then the box.
    EXPECT_EQ(trace, (Texts{std::string("debug:") + kConnected, "debug:Already have a comm file open\n", "box:2/err"}));
    EXPECT_EQ(sim::MessageBoxes().at(0).type, static_cast<UINT>(MB_OK));
    // The refused port was closed; the held one is still held.
    EXPECT_EQ(sim::OpenCommPorts(), 1);
    EXPECT_EQ(link().CommHandle, held);
    EXPECT_EQ(vmodem_DataReceived(0), 0u);
    // Taking the held handle again is refused too and leaves it open.
    EXPECT_EQ(link().TakeCommHandle(held), 0);
    EXPECT_EQ(GetFileType(held), static_cast<DWORD>(FILE_TYPE_CHAR));
}

TEST_F(SendDataTest, TakingAPortConfiguresItsTimeoutsAndClearsAbortOnError) {
    HANDLE port = OwnPort();
    DCB before{};
    ASSERT_TRUE(sim::CommPortSettings(port, &before, nullptr));
    ASSERT_EQ(before.fAbortOnError, 1u);
    ASSERT_EQ(link().TakeCommHandle(port), 1);
    DCB dcb{};
    COMMTIMEOUTS t{};
    ASSERT_TRUE(sim::CommPortSettings(port, &dcb, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 250u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    // Everything else as the port reported it.
    dcb.fAbortOnError = 1;
    EXPECT_EQ(std::memcmp(&dcb, &before, sizeof dcb), 0);
    EXPECT_TRUE(Debug().empty());
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(SendDataTest, TheIdentifierBufferComesFromTheLocalHeapAndGrows) {
    // A new buffer: zero-filled, its total size set.
    LPVARSTRING a = link().AllocIdBuffer(nullptr, kIdBufferSize, "lineGetID: ");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(LocalSize(a), kIdBufferSize);
    EXPECT_EQ(a->dwTotalSize, kIdBufferSize);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(a);
    for (DWORD i = sizeof(DWORD); i < kIdBufferSize; ++i) ASSERT_EQ(bytes[i], 0) << i;
    // Large enough: kept, zeroed, its whole size recorded.
    std::memset(a, 0xAB, kIdBufferSize);
    EXPECT_EQ(link().AllocIdBuffer(a, 100, "p: "), a);
    EXPECT_EQ(a->dwTotalSize, kIdBufferSize);
    EXPECT_EQ(a->dwNeededSize, 0u);
    EXPECT_TRUE(Debug().empty());
    // Too small: replaced, with the prefix and the reallocation text.
    LPVARSTRING b = link().AllocIdBuffer(a, 4000, "lineGetID: ");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->dwTotalSize, 4000u);
    EXPECT_EQ(LocalSize(b), 4000u);
    EXPECT_EQ(Debug(), (Texts{"lineGetID: ", "Reallocating structure\n"}));
    EXPECT_EQ(sim::LiveLocalBlocks(), 1);
    // No memory for the larger one: none, and the old one released.
    sim::FailKernel("LocalAlloc");
    EXPECT_EQ(link().AllocIdBuffer(b, 8000, "x"), nullptr);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);
    // A heap that reports no size: none, the buffer released all the same.
    LPVARSTRING c = link().AllocIdBuffer(nullptr, 64, "x");
    sim::FailKernel("LocalSize");
    EXPECT_EQ(link().AllocIdBuffer(c, 32, "x"), nullptr);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);
    // Sizes no telephony record has are not allocated.
    EXPECT_EQ(link().AllocIdBuffer(nullptr, kMaxTapiRecordSize + 1, "x"), nullptr);
    EXPECT_EQ(link().AllocIdBuffer(nullptr, 8, "x"), nullptr);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);
}

TEST_F(SendDataTest, ALongPortNameGrowsTheBufferAndAFailedAllocationGivesMinusOne) {
    ConnectData();
    sim::FailKernel("LocalAlloc");
    EXPECT_EQ(ctrl->SendData("x"), -1);
    EXPECT_TRUE(Debug().empty());

    vmodem_SetDataPort(0, nullptr, std::string(2000, 'P').c_str());
    EXPECT_EQ(ctrl->SendData("grown"), 0);
    EXPECT_EQ(Received(), "grown");
    EXPECT_EQ(Debug(), (Texts{"lineGetID: ", "Reallocating structure\n", kConnected}));
    EXPECT_EQ(vmodem_DataPortsLent(0), 1);  // lent only into the record that holds it

    sim::FailKernel("LocalAlloc", 1, 1);  // the second, larger buffer
    EXPECT_EQ(ctrl->SendData("x"), -1);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);
    // A service that always wants more is not followed for ever.
    vmodem_SetHostile(VMODEM_HOSTILE_NEEDED);
    EXPECT_EQ(ctrl->SendData("x"), -1);
    EXPECT_EQ(sim::LiveLocalBlocks(), 0);
    EXPECT_EQ(vmodem_DataReceived(0), 5u);
}

TEST_F(SendDataTest, PartialAndPendingWritesDeliverEveryByteOnce) {
    ConnectData();
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
    sim::InjectCommWrite(sim::CommFault::Partial, 7, 3);
    sim::InjectCommWrite(sim::CommFault::Pending, 50, 2);
    sim::InjectCommWrite(sim::CommFault::Partial, 1, 1);
    sim::InjectCommWrite(sim::CommFault::Pending, 100000, 1);
    EXPECT_EQ(ctrl->SendData(text), 0);
    EXPECT_EQ(Received(), text);
    EXPECT_EQ(sim::CommWriteCalls(), 7);
    EXPECT_EQ(Debug(), (Texts{kConnected}));

    // Pending writes on their own, each completing only part.
    sim::InjectCommWrite(sim::CommFault::Pending, 64, 100);
    EXPECT_EQ(ctrl->SendData(text), 0);
    EXPECT_EQ(Received(), text);
    sim::ClearCommFaults();
    EXPECT_EQ(sim::OpenCommPorts(), 0);
    EXPECT_EQ(sim::LiveEvents(), 0);
}

TEST_F(SendDataTest, WriteErrorsGiveMinusFiveOrMinusSixWithTheirTexts) {
    ConnectData();
    sim::InjectCommWrite(sim::CommFault::Error, ERROR_INVALID_HANDLE);
    EXPECT_EQ(ctrl->SendData("x"), -5);
    EXPECT_EQ(Debug(), (Texts{kConnected, kProviderClosed}));

    sim::InjectCommWrite(sim::CommFault::Partial, 2);
    sim::InjectCommWrite(sim::CommFault::Error, ERROR_WRITE_FAULT);
    EXPECT_EQ(ctrl->SendData("abcdef"), -6);
    EXPECT_EQ(Debug().back(), "Closing TAPI\n");
    EXPECT_EQ(Received(), "ab");

    sim::InjectCommWrite(sim::CommFault::PendingError, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(ctrl->SendData("x"), -6);
    EXPECT_EQ(Debug().back(), "Closing TAPI\n");
    // A write that takes nothing is not repeated for ever.
    sim::InjectCommWrite(sim::CommFault::Partial, 0);
    EXPECT_EQ(ctrl->SendData("x"), -6);
    // Whatever the outcome, the port and its event were closed.
    EXPECT_EQ(sim::OpenCommPorts(), 0);
    EXPECT_EQ(sim::LiveEvents(), 0);
    EXPECT_EQ(link().CommHandle, nullptr);
    EXPECT_EQ(ctrl->SendData("ok"), 0);
    EXPECT_EQ(Received(), "ok");
}

TEST_F(SendDataTest, HangUpDuringASendGivesMinusFive) {
    HCALL h = ConnectData();
    std::string text(100000, 'd');
    ASSERT_EQ(vmodem_DataHangUpAfter(0, 10000), 0);
    EXPECT_EQ(ctrl->SendData(text), -5);
    EXPECT_EQ(Debug(), (Texts{kConnected, kProviderClosed}));
    std::string got = Received();
    EXPECT_GE(got.size(), 10000u);
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(got, text.substr(0, got.size()));
    EXPECT_EQ(sim::OpenCommPorts(), 0);  // the control closed its handle
    Pump();
    EXPECT_EQ(LongArgs(EVENT_DisConnected), (std::vector<LONG>{static_cast<LONG>(h)}));
    // The call is over: no port any more.
    EXPECT_EQ(ctrl->SendData("x"), -2);

    // The same while a pending write is completing.
    ctrl->HandUp();
    Pump();
    vmodem_OfferData(0, nullptr);
    Pump();
    ctrl->AnswerTp();
    Pump();
    ASSERT_EQ(vmodem_DataHangUpAfter(0, 5000), 0);
    sim::InjectCommWrite(sim::CommFault::Pending, 100000);
    EXPECT_EQ(ctrl->SendData(text), -5);
    EXPECT_EQ(Debug().back(), kProviderClosed);
    EXPECT_EQ(sim::OpenCommPorts(), 0);
}
