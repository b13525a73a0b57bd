// libcurl bound at run time: the real library loads with every function;
// a missing one is reported, not fatal. Error mapping onto the Windows
// Internet codes.
#include <gtest/gtest.h>

#include "platform/net/curl_library.h"
#include "platform/net/wininet_errors.h"

namespace {

TEST(CurlLibrary, LoadsTheSystemLibraryAndAMissingOneIsOnlyAnError)
{
    std::string error;
    auto library = net::TCurlLibrary::Open(error);
    ASSERT_TRUE(library) << error;
    net::TCurlSession session(*library);
    EXPECT_TRUE(session.Valid());

    net::SetCurlLibraryName("libcurl-not-installed.so.4");
    EXPECT_FALSE(net::TCurlLibrary::Open(error));
    EXPECT_NE(error.find("libcurl-not-installed.so.4"), std::string::npos) << error;
    net::SetCurlLibraryName("");
    EXPECT_EQ(net::CurlLibraryName(), "libcurl.so.4");
}

TEST(WinInetErrors, TableRowsAndCurlMapping)
{
    EXPECT_EQ(net::WinInetErrorRow(12002), "12002 The request has timed out.");
    EXPECT_EQ(net::WinInetErrorRow(12030), "12030 The connection with the server has been terminated.");
    EXPECT_EQ(net::WinInetErrorRow(12171), "12171 The function failed due to a security check.");
    EXPECT_EQ(net::WinInetErrorRow(12001), "");
    EXPECT_EQ(net::WinInetErrorRow(500), "");
    EXPECT_EQ(net::WinInetCodeForCurlError(7), 12029);  // could not connect
    EXPECT_EQ(net::WinInetCodeForCurlError(28), 12002); // timed out
    EXPECT_EQ(net::WinInetCodeForCurlError(60), 12045); // certificate does not verify
    EXPECT_EQ(net::WinInetCodeForCurlError(6), 12007);  // name not resolved
    // Every mapped code has its text.
    for (int curl = 1; curl < 100; ++curl)
        EXPECT_FALSE(net::WinInetErrorRow(net::WinInetCodeForCurlError(curl)).empty()) << curl;
}

} // namespace
