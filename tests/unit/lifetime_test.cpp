/*
 * Library set-up, reference-counted initialization and the INITDATA record.
 */
#include "support/testutil.h"
#include "session/session.h"

#include <cstring>
#include <thread>
#include <string>
#include <vector>

namespace {

const char kDescription[] = "Tidewire Internet Message Access Protocol Library";

INITDATA FreshInitData(DWORD dwSize, DWORD dwOptions)
{
    INITDATA data;
    memset(&data, 0xA5, sizeof(data));
    data.dwSize = dwSize;
    data.dwOptions = dwOptions;
    return data;
}

void ExpectFilled(const INITDATA &data)
{
    EXPECT_EQ(9u, data.dwVersionMajor);
    EXPECT_EQ(5u, data.dwVersionMinor);
    EXPECT_EQ(9530u, data.dwVersionBuild);
    EXPECT_EQ(0u, data.dwOptions);
    EXPECT_EQ(0u, data.dwReserved1);
    EXPECT_STREQ(kDescription, data.szDescription);
}

TEST(Initialize, NullRecordInitializesAndCounts)
{
    ASSERT_TRUE(ImapInitializeA(NULL, NULL));
    EXPECT_LAST_ERROR(0);
    ASSERT_TRUE(ImapInitializeA("ignored", NULL));

    HCLIENT h = AllocateSession();
    ASSERT_NE(INVALID_CLIENT, h);
    ImapUninitialize();
    EXPECT_NE(nullptr, FindSession(h)) << "one of two initializations is still outstanding";
    ImapUninitialize();
    EXPECT_EQ(nullptr, FindSession(h));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);

    ImapUninitialize(); /* surplus: releases nothing, no crash */
}

TEST(Initialize, FillsRecordAndHandsOutStartupRecord)
{
    INITDATA data = FreshInitData(sizeof(INITDATA), 0);
    ASSERT_TRUE(ImapInitializeA(NULL, &data));
    ExpectFilled(data);
    EXPECT_NE(0u, data.dwReserved2) << "the network was started by this call";
    EXPECT_EQ(sizeof(INITDATA), data.dwSize);
    ImapUninitialize();
}

TEST(Initialize, WrongSizeLeavesRecordUntouched)
{
    for (DWORD dwSize : {(DWORD)sizeof(INITDATA) - 1, (DWORD)sizeof(INITDATA) + 1, (DWORD)0}) {
        INITDATA data = FreshInitData(dwSize, 0);
        INITDATA before = data;
        EXPECT_FALSE(ImapInitializeA(NULL, &data)) << dwSize;
        EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
        EXPECT_EQ(0, memcmp(&before, &data, sizeof(data))) << dwSize;
    }
    EXPECT_EQ(INVALID_CLIENT, AllocateSession());
    EXPECT_LAST_ERROR(TW_ERROR_NETWORK_NOT_INITIALIZED);
}

TEST(Initialize, OptionsWithoutNetworkBitOnlyFillRecord)
{
    INITDATA data = FreshInitData(sizeof(INITDATA), 1);
    ASSERT_TRUE(ImapInitializeA(NULL, &data));
    EXPECT_LAST_ERROR(0);
    ExpectFilled(data);
    EXPECT_EQ(0u, data.dwReserved2);
    EXPECT_EQ(INVALID_CLIENT, AllocateSession());
    EXPECT_LAST_ERROR(TW_ERROR_NETWORK_NOT_INITIALIZED);
    /* Nothing was counted, so nothing is to be undone. */

    data = FreshInitData(sizeof(INITDATA), 0x20000000);
    ASSERT_TRUE(ImapInitializeA(NULL, &data));
    ExpectFilled(data);
    EXPECT_NE(0u, data.dwReserved2);
    HCLIENT h = AllocateSession();
    EXPECT_NE(INVALID_CLIENT, h);
    ImapUninitialize();
}

TEST(Initialize, WideFormGivesDescriptionInUtf16)
{
    INITDATAW data;
    memset(&data, 0xA5, sizeof(data));
    data.dwSize = sizeof(INITDATAW);
    data.dwOptions = 0;
    ASSERT_TRUE(ImapInitializeW(W(Utf16("reserved")), &data));
    EXPECT_LAST_ERROR(0);
    EXPECT_EQ(9u, data.dwVersionMajor);
    EXPECT_EQ(5u, data.dwVersionMinor);
    EXPECT_EQ(9530u, data.dwVersionBuild);
    EXPECT_EQ(0u, data.dwOptions);
    EXPECT_NE(0u, data.dwReserved2);
    EXPECT_EQ(Utf16(kDescription), FromW(data.szDescription));
    ImapUninitialize();
}

TEST(Initialize, WideFormChecksItsOwnSize)
{
    INITDATAW data;
    memset(&data, 0, sizeof(data));
    data.dwSize = sizeof(INITDATA); /* the A record's size is wrong here */
    EXPECT_FALSE(ImapInitializeW(NULL, &data));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(0u, data.dwVersionMajor);
}

TEST(Initialize, HugeWideArgumentIsConvertedOffTheStack)
{
    /* Four bytes per unit of a 4-million-unit string would overrun any
       thread's stack. */
    std::u16string big(4u << 20, u'x');
    ASSERT_TRUE(ImapInitializeW(W(big), NULL));
    ImapUninitialize();
}

TEST(Uninitialize, ClosesSessionsOfEveryThread)
{
    ASSERT_TRUE(ImapInitializeA(NULL, NULL));
    std::vector<HCLIENT> handles;
    handles.push_back(AllocateSession());
    std::thread other([&] { handles.push_back(AllocateSession()); });
    other.join();
    for (HCLIENT h : handles)
        ASSERT_NE(INVALID_CLIENT, h);
    ImapUninitialize();
    for (HCLIENT h : handles) {
        EXPECT_EQ(nullptr, FindSessionAnyThread(h));
        EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(0u, GetSessionTableSize());
}

} // namespace
