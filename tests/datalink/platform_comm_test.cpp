// The platform's serial ports, event objects, overlapped writes, local
// heap sizes and debugger output, as the data link uses them.
#include "tests/datalink/datalink_fixture.h"

namespace {

HANDLE PlainFile(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

using PlatformCommTest = DataLinkTest;

TEST_F(PlatformCommTest, FileTypeTellsPortsFromFilesAndEvents) {
    HANDLE port = OwnPort();
    HANDLE file = PlainFile("plain.bin");
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(GetFileType(port), static_cast<DWORD>(FILE_TYPE_CHAR));
    EXPECT_EQ(GetFileType(file), static_cast<DWORD>(FILE_TYPE_DISK));
    EXPECT_EQ(GetFileType(event), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    EXPECT_EQ(GetFileType(nullptr), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    EXPECT_EQ(sim::OpenCommPorts(), 1);
    EXPECT_EQ(sim::LiveEvents(), 1);
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(sim::OpenCommPorts(), 0);
    EXPECT_EQ(sim::LiveEvents(), 0);
    EXPECT_FALSE(CloseHandle(port));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(PlatformCommTest, StateAndTimeoutsAreReadModifiedAndWrittenPerHandle) {
    HANDLE a = OwnPort(), b = OwnPort();
    DCB dcb{};
    ASSERT_TRUE(GetCommState(a, &dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    dcb.fAbortOnError = 0;
    dcb.BaudRate = CBR_9600;
    ASSERT_TRUE(SetCommState(a, &dcb));
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(a, &t));
    t.ReadIntervalTimeout = 250;
    ASSERT_TRUE(SetCommTimeouts(a, &t));

    DCB back{}, other{};
    COMMTIMEOUTS tBack{}, tOther{};
    ASSERT_TRUE(sim::CommPortSettings(a, &back, &tBack));
    ASSERT_TRUE(sim::CommPortSettings(b, &other, &tOther));
    EXPECT_EQ(back.fAbortOnError, 0u);
    EXPECT_EQ(back.BaudRate, static_cast<DWORD>(CBR_9600));
    EXPECT_EQ(tBack.ReadIntervalTimeout, 250u);
    EXPECT_EQ(other.fAbortOnError, 1u);  // the other port keeps its own
    EXPECT_EQ(tOther.ReadIntervalTimeout, 0u);

    dcb.ByteSize = 9;
    EXPECT_FALSE(SetCommState(a, &dcb));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE file = PlainFile("plain.bin");
    EXPECT_FALSE(GetCommState(file, &dcb));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(file);
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(PlatformCommTest, WritesCompleteAtOncePartlyOrPending) {
    HANDLE port = OwnPort();
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "hello", 5, &n, &ov));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(farEnd, "hello");
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));  // already complete
    EXPECT_EQ(n, 5u);

    sim::InjectCommWrite(sim::CommFault::Partial, 2);
    ASSERT_TRUE(WriteFile(port, "world", 5, &n, &ov));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(farEnd, "hellowo");

    sim::InjectCommWrite(sim::CommFault::Pending, 3);
    EXPECT_FALSE(WriteFile(port, "12345", 5, &n, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(farEnd, "hellowo");  // nothing went yet
    EXPECT_FALSE(WriteFile(port, "x", 1, &n, &ov));  // one write in flight
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(farEnd, "hellowo123");

    sim::InjectCommWrite(sim::CommFault::Error, ERROR_WRITE_FAULT);
    EXPECT_FALSE(WriteFile(port, "z", 1, &n, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    sim::InjectCommWrite(sim::CommFault::PendingError, ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(WriteFile(port, "z", 1, &n, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(farEnd, "hellowo123");
    EXPECT_EQ(sim::CommWriteCalls(), 6);

    // Bytes above 0x7F and line ends pass unchanged; a large write goes whole.
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 1);
    farEnd.clear();
    ASSERT_TRUE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &n, &ov));
    EXPECT_EQ(n, big.size());
    EXPECT_EQ(farEnd, big);
    CloseHandle(ov.hEvent);
    CloseHandle(port);
}

TEST_F(PlatformCommTest, ARevokedPortFailsWithInvalidHandleUntilItsHolderClosesIt) {
    HANDLE port = OwnPort();
    OVERLAPPED ov{};
    DWORD n = 0;
    sim::InjectCommWrite(sim::CommFault::Pending, 10);
    EXPECT_FALSE(WriteFile(port, "pending", 7, &n, &ov));
    sim::RevokeCommPort(port);
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteFile(port, "late", 4, &n, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DCB dcb{};
    EXPECT_FALSE(GetCommState(port, &dcb));
    EXPECT_EQ(farEnd, "");
    EXPECT_EQ(sim::OpenCommPorts(), 1);
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_EQ(sim::OpenCommPorts(), 0);
}

TEST_F(PlatformCommTest, LocalSizeAndDebugOutput) {
    HLOCAL a = LocalAlloc(LPTR, 1048);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(LocalSize(a), 1048u);
    int junk = 0;
    EXPECT_EQ(LocalSize(&junk), 0u);
    sim::FailKernel("LocalSize");
    EXPECT_EQ(LocalSize(a), 0u);
    EXPECT_EQ(LocalSize(a), 1048u);
    LocalFree(a);
    EXPECT_EQ(LocalSize(a), 0u);

    OutputDebugStringA("one\n");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("two");
    EXPECT_EQ(Debug(), (Texts{"one\n", "", "two"}));
    EXPECT_EQ(trace, (Texts{"debug:one\n", "debug:", "debug:two"}));
}

TEST_F(PlatformCommTest, DataCallsLendANewPortPerQueryAndCloseThemAtHangUp) {
    HCALL h = ConnectData();
    EXPECT_EQ(vmodem_CallMediaMode(h), static_cast<uint32_t>(LINEMEDIAMODE_DATAMODEM));
    auto lend = [&] {
        TapiRecord id;
        id.Allocate(kIdBufferSize);
        EXPECT_EQ(module->line.tapi.lineGetIDA(0, 0, h, LINECALLSELECT_CALL, id.as<VARSTRING>(), "comm/datamodem"), 0);
        DWORD value = 0;
        std::memcpy(&value, id.At(id.as<VARSTRING>()->dwStringOffset), sizeof value);
        return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    };
    HANDLE a = lend(), b = lend();
    EXPECT_NE(a, b);
    EXPECT_EQ(GetFileType(a), static_cast<DWORD>(FILE_TYPE_CHAR));
    EXPECT_EQ(vmodem_DataPortsLent(0), 2);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(a, "A", 1, &n, nullptr));
    ASSERT_TRUE(WriteFile(b, "B", 1, &n, nullptr));
    EXPECT_EQ(Received(), "AB");  // both are the same line
    CloseHandle(a);
    ASSERT_EQ(vmodem_HangUp(0), 0);
    EXPECT_FALSE(WriteFile(b, "C", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(b));
    EXPECT_EQ(sim::OpenCommPorts(), 0);

    // A voice call is no data call.
    Pump();
    ctrl->HandUp();
    Pump();
    HCALL voice = ConnectIncoming();
    EXPECT_EQ(vmodem_CallMediaMode(voice), static_cast<uint32_t>(LINEMEDIAMODE_AUTOMATEDVOICE));
}
