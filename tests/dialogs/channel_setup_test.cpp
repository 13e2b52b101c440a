// The channel page: lists per band, moving channels, restoring, scan notices, storing on OK only.
#include "tests/dialogs/sheetrig.h"

#include <atomic>
#include <numeric>
#include <thread>

using namespace sheettest;

namespace {

constexpr int kRadioTV = 1003, kRadioCATV = 1004;
constexpr int kRegister = 1006, kUnregister = 1007, kRegisterAll = 1008, kUnregisterAll = 1009, kRestore = 1010;

std::vector<int> Range(int first, int last, std::initializer_list<int> except = {}) {
  std::vector<int> out;
  for (int c = first; c <= last; ++c)
    if (std::find(except.begin(), except.end(), c) == except.end()) out.push_back(c);
  return out;
}

std::string Flags(int chars, std::initializer_list<int> registered) {
  std::string s(static_cast<size_t>(chars), '0');
  for (int c : registered) s[static_cast<size_t>(c)] = '1';
  return s;
}

class ChannelPage : public SheetTest {};

TEST_F(ChannelPage, EmptyStoreGivesTheDefaultListsInBothBands) {
  std::vector<int> tvReg, tvUnreg, catvReg, catvUnreg;
  int checkedTV = 0;
  RunSheet([&] {
    checkedTV = IsDlgButtonChecked(channel.m_hWnd, kRadioTV);
    tvReg = Items(channel.m_lstRegistered);
    tvUnreg = Items(channel.m_lstUnregistered);
    Click(channel.m_hWnd, kRadioCATV);
    catvReg = Items(channel.m_lstRegistered);
    catvUnreg = Items(channel.m_lstUnregistered);
    Cancel();
  });
  EXPECT_EQ(BST_CHECKED, checkedTV);
  EXPECT_EQ((std::vector<int>{2, 6, 7, 9, 11, 13}), tvReg);
  EXPECT_EQ(Range(3, 69, {6, 7, 9, 11, 13}), tvUnreg);
  EXPECT_EQ(62u, tvUnreg.size());

  EXPECT_EQ((std::vector<int>{2, 6, 7, 9, 11, 13}), catvReg);
  std::vector<int> all = catvReg;
  all.insert(all.end(), catvUnreg.begin(), catvUnreg.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(Range(1, 125), all);
}

TEST_F(ChannelPage, StoredListsOfOddLengthsStayInsideTheirBuffers) {
  StoreString(kKeyChannel, "TV", "00000000001");                    // short: channel 10 only
  StoreString(kKeyChannel, "CATV", std::string(130, '1').c_str());  // too long for its buffer
  std::vector<int> tvReg, tvUnreg, catvReg;
  RunSheet([&] {
    tvReg = Items(channel.m_lstRegistered);
    tvUnreg = Items(channel.m_lstUnregistered);
    Click(channel.m_hWnd, kRadioCATV);
    catvReg = Items(channel.m_lstRegistered);
    Ok();
  });
  EXPECT_EQ(std::vector<int>{10}, tvReg);
  EXPECT_EQ(Range(2, 69, {10}), tvUnreg);
  EXPECT_EQ((std::vector<int>{2, 6, 7, 9, 11, 13}), catvReg);
  EXPECT_EQ(Flags(70, {10}), StoredString(kKeyChannel, "TV"));
  EXPECT_EQ(Flags(126, {2, 6, 7, 9, 11, 13}), StoredString(kKeyChannel, "CATV"));
}

TEST_F(ChannelPage, ArrowsMoveTheSelectedChannelsAndNothingWithoutASelection) {
  StoreString(kKeyChannel, "TV", Flags(70, {11}).c_str());
  std::vector<int> regAfterNone, regAfterIn, unregAfterIn, regAfterOut;
  std::string tvAfterNone;
  RunSheet([&] {
    Click(channel.m_hWnd, kRegister);  // nothing selected
    regAfterNone = Items(channel.m_lstRegistered);
    tvAfterNone = channel.m_szTV;
    Select(channel.m_lstUnregistered, {"5", "7"});
    Click(channel.m_hWnd, kRegister);
    regAfterIn = Items(channel.m_lstRegistered);
    unregAfterIn = Items(channel.m_lstUnregistered);
    Select(channel.m_lstRegistered, {"5", "11"});
    Click(channel.m_hWnd, kUnregister);
    regAfterOut = Items(channel.m_lstRegistered);
    Ok();
  });
  EXPECT_EQ(std::vector<int>{11}, regAfterNone);
  EXPECT_EQ(Flags(70, {11}), tvAfterNone);
  EXPECT_EQ((std::vector<int>{5, 7, 11}), regAfterIn);
  EXPECT_EQ(Range(2, 69, {5, 7, 11}), unregAfterIn);
  EXPECT_EQ(std::vector<int>{7}, regAfterOut);
  EXPECT_EQ(Flags(70, {7}), StoredString(kKeyChannel, "TV"));
}

TEST_F(ChannelPage, RestoreUndoesOnlyTheCurrentBandEvenAfterSwitchingBands) {
  StoreString(kKeyChannel, "TV", Flags(70, {3, 4}).c_str());
  StoreString(kKeyChannel, "CATV", Flags(126, {100}).c_str());
  std::vector<int> tvAfterAll, tvRestored, catvKept, catvRestored;
  RunSheet([&] {
    Click(channel.m_hWnd, kRegisterAll);
    tvAfterAll = Items(channel.m_lstRegistered);
    Click(channel.m_hWnd, kRadioCATV);
    Click(channel.m_hWnd, kUnregisterAll);
    Click(channel.m_hWnd, kRadioTV);
    Click(channel.m_hWnd, kRestore);
    tvRestored = Items(channel.m_lstRegistered);
    Click(channel.m_hWnd, kRadioCATV);
    catvKept = Items(channel.m_lstRegistered);
    Click(channel.m_hWnd, kRestore);
    catvRestored = Items(channel.m_lstRegistered);
    Ok();
  });
  EXPECT_EQ(Range(2, 69), tvAfterAll);
  EXPECT_EQ((std::vector<int>{3, 4}), tvRestored);
  EXPECT_TRUE(catvKept.empty());
  EXPECT_EQ(std::vector<int>{100}, catvRestored);
  EXPECT_EQ(Flags(70, {3, 4}), StoredString(kKeyChannel, "TV"));
  EXPECT_EQ(Flags(126, {100}), StoredString(kKeyChannel, "CATV"));
}

TEST_F(ChannelPage, RegisterAllCoversTheWholeStringButNotTheTerminator) {
  RunSheet([&] {
    Click(channel.m_hWnd, kRadioCATV);
    Click(channel.m_hWnd, kRegisterAll);
    Ok();
  });
  EXPECT_EQ(std::string(126, '1'), StoredString(kKeyChannel, "CATV"));
  EXPECT_EQ(Flags(70, {2, 6, 7, 9, 11, 13}), StoredString(kKeyChannel, "TV"));
}

TEST_F(ChannelPage, CancelStoresNothing) {
  const std::string catv = Flags(126, {1, 50, 125});
  StoreString(kKeyChannel, "CATV", catv.c_str());
  RunSheet([&] {
    Click(channel.m_hWnd, kRadioCATV);
    Click(channel.m_hWnd, kUnregisterAll);
    Cancel();
  });
  EXPECT_EQ(catv, StoredString(kKeyChannel, "CATV"));
  EXPECT_EQ("<missing>", StoredString(kKeyChannel, "TV"));
}

TEST_F(ChannelPage, ScanNoticesMarkChannelsOfTheCurrentBandOnly) {
  std::vector<int> tvReg, catvReg;
  std::string tvAfterOutside;
  RunSheet([&] {
    const HWND page = channel.m_hWnd;
    SendMessageA(page, WM_TUNER_NOTIFY, PageCmd::SignalFound, 44);
    for (LPARAM outside : {LPARAM{0}, LPARAM{1}, LPARAM{70}, LPARAM{125}, LPARAM{-1}, LPARAM{100000}})
      SendMessageA(page, WM_TUNER_NOTIFY, PageCmd::SignalFound, outside);
    tvAfterOutside = channel.m_szTV;
    tvReg = Items(channel.m_lstRegistered);
    Click(page, kRadioCATV);
    SendMessageA(page, WM_TUNER_NOTIFY, PageCmd::SignalFound, 125);
    SendMessageA(page, WM_TUNER_NOTIFY, PageCmd::SignalFound, 126);
    catvReg = Items(channel.m_lstRegistered);
    Ok();
  });
  EXPECT_EQ((std::vector<int>{2, 6, 7, 9, 11, 13, 44}), tvReg);
  EXPECT_EQ(Flags(70, {2, 6, 7, 9, 11, 13, 44}), tvAfterOutside);
  EXPECT_EQ((std::vector<int>{2, 6, 7, 9, 11, 13, 125}), catvReg);
  EXPECT_EQ(Flags(126, {2, 6, 7, 9, 11, 13, 125}), StoredString(kKeyChannel, "CATV"));
}

TEST_F(ChannelPage, ScanNoticeFromAWorkerThreadIsHandledOnTheUiThread) {
  std::vector<int> reg;
  RunSheet([&] {
    std::atomic<bool> done{false};
    const HWND page = channel.m_hWnd;
    std::thread worker([&] {
      SendMessageA(page, WM_TUNER_NOTIFY, PageCmd::SignalFound, 30);
      done = true;
    });
    EXPECT_TRUE(orv::test::PumpUntil([&] { return done.load(); }));
    worker.join();
    reg = Items(channel.m_lstRegistered);
    Cancel();
  });
  EXPECT_EQ((std::vector<int>{2, 6, 7, 9, 11, 13, 30}), reg);
}

}  // namespace
