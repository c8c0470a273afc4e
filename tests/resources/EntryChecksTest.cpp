// Following the catalogue across content versions: which stored entries the
// reconcile removes, which it leaves, and what counts as bad when the store
// cannot remove them.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "resources/EntryChecks.h"

namespace udra {
namespace {

const std::string kD1 = "11111111111111111111111111111111";
const std::string kD2 = "22222222222222222222222222222222";
const std::string kDa = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

// The store's digest listing, in memory: name -> (size, digest).
class FakeDigests : public IEntryDigests {
 public:
  std::map<std::string, std::pair<int32_t, std::string>> entries;
  std::vector<std::string> removed;
  bool failRemove = false;
  bool failList = false;

  bool ListDigests(DigestVisit visit, void* context) override {
    if (failList) return false;
    for (const auto& [name, e] : entries) visit(context, name.c_str(), e.first, e.second.c_str());
    return true;
  }
  bool RemoveEntries(const std::vector<std::string>& names) override {
    if (failRemove) return false;
    for (const std::string& n : names) {
      removed.push_back(n);
      entries.erase(n);
    }
    return true;
  }
  bool SetEntryDigest(const std::string&, int32_t, const std::string&) override { return true; }
};

void LoadCatalogue(FileList& list) {
  ASSERT_TRUE(list.LoadFromBuffer(
      "Data|-1|0|00000000000000000000000000000000|00000000000000000000000000000000|v2\n"
      "Data\\a.txt|10|7|" + kD1 + "|" + kD1 + "|v2\n"
      "Data\\b.txt|10|8|" + kD1 + "|" + kD2 + "|v2\n"
      "Pack|-1|0|" + kD1 + "|" + kD1 + "|v2|Pack.pack\n"
      "Pack\\x.txt|3|90|" + kD1 + "|" + kDa + "|v2|Pack.pack\n"
      "Pack\\y.txt|4|90|" + kD2 + "|" + kDa + "|v2|Pack.pack\n"));
}

TEST(EntryChecks, ReconcileRemovesOnlyEntriesOfAnotherVersion) {
  FileList catalogue;
  LoadCatalogue(catalogue);
  FakeDigests store;
  store.entries = {
      {"Data\\a.txt", {7, kD1}},            // current
      {"DATA\\B.TXT", {8, kD1}},            // another digest, names fold case
      {"pack.PACK", {90, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}},  // current package, either case
      {"Data\\gone.txt", {5, kD2}},         // no catalogue entry names it
      {"Pack\\x.txt", {3, kD1}},            // a key, but not a download name: left alone
  };
  EntryChecks checks;
  checks.Attach(&store);
  const ReconcileResult r = checks.Reconcile(catalogue);
  EXPECT_TRUE(r.listed);
  EXPECT_EQ(r.checked, 3u);
  EXPECT_EQ(r.stale, 1u);
  EXPECT_EQ(r.removed, 1u);
  EXPECT_EQ(store.removed, std::vector<std::string>{"DATA\\B.TXT"});
  EXPECT_FALSE(checks.IsBad("DATA\\B.TXT"));  // the store no longer holds it
}

TEST(EntryChecks, UnknownDigestIsStaleOnlyWhenItsSizeShows) {
  FileList catalogue;
  LoadCatalogue(catalogue);
  FakeDigests store;
  store.entries = {{"Data\\a.txt", {7, ""}}, {"Data\\b.txt", {9, ""}}, {"Pack.pack", {91, ""}}};
  EntryChecks checks;
  checks.Attach(&store);
  const ReconcileResult r = checks.Reconcile(catalogue);
  EXPECT_EQ(r.unknown, 3u);
  EXPECT_EQ(store.removed, (std::vector<std::string>{"Data\\b.txt", "Pack.pack"}));
}

TEST(EntryChecks, WhatTheStoreCannotRemoveCountsAsBadUntilDownloadedAgain) {
  FileList catalogue;
  LoadCatalogue(catalogue);
  FakeDigests store;
  store.entries = {{"Data\\a.txt", {7, kD2}}, {"Pack.pack", {90, kD1}}};
  store.failRemove = true;
  EntryChecks checks;
  EXPECT_FALSE(checks.IsBad("Data\\a.txt"));
  checks.Attach(&store);
  const ReconcileResult r = checks.Reconcile(catalogue);
  EXPECT_EQ(r.stale, 2u);
  EXPECT_EQ(r.removed, 0u);
  EXPECT_TRUE(checks.IsBad("Data\\a.txt"));
  EXPECT_TRUE(checks.IsBad("Pack.pack"));
  checks.Forget("Data\\a.txt");  // a download replaced it
  EXPECT_FALSE(checks.IsBad("Data\\a.txt"));
  EXPECT_TRUE(checks.IsBad("Pack.pack"));

  // A damaged entry the store cannot remove is bad too, and no longer verified.
  checks.MarkVerified("Data\\b.txt");
  EXPECT_FALSE(checks.Drop("Data\\b.txt"));
  EXPECT_TRUE(checks.IsBad("Data\\b.txt"));
  EXPECT_FALSE(checks.IsVerified("Data\\b.txt"));
  checks.Reset();
  EXPECT_FALSE(checks.IsBad("Pack.pack"));
  EXPECT_FALSE(checks.enabled());
}

TEST(EntryChecks, WithoutTheExtensionNothingHappens) {
  FileList catalogue;
  LoadCatalogue(catalogue);
  EntryChecks checks;
  checks.Attach(nullptr);
  EXPECT_FALSE(checks.Reconcile(catalogue).listed);
  EXPECT_FALSE(checks.Drop("Data\\a.txt"));
  FakeDigests broken;
  broken.failList = true;
  checks.Attach(&broken);
  EXPECT_FALSE(checks.Reconcile(catalogue).listed);
}

TEST(EntryChecks, SameDigestIgnoresCaseOnly) {
  EXPECT_TRUE(SameDigest(kDa, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"));
  EXPECT_FALSE(SameDigest(kDa, kD1));
  EXPECT_FALSE(SameDigest("", ""));
  EXPECT_FALSE(SameDigest(kDa, kDa.substr(1)));
}

}  // namespace
}  // namespace udra
