// sound and resolve: a decoded sound table, and the waves its kinds play.
#include <brackwater_dat/dat_database.hpp>
#include <nlohmann/json.hpp>
#include <ostream>

#include "support/synthetic_retail.hpp"
#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

using nlohmann::json;

class SoundTable : public SmallArchiveTest {};

TEST_F(SoundTable, TextListsKindsSortedWithWavesEntriesAndShortestFloats) {
  const auto run = run_tool({"sound", archive_, "0x20000001"});
  EXPECT_EQ(run.out,
            "id: 0x20000001\n"
            "hash_key: -7\n"
            "hashes: 2\n"
            "sound 0x46: wave none, unknown 5\n"
            "sound 0x58: wave 0x0A000262, unknown 0\n"
            "  0x0A000262 priority 1 probability 0.25 volume 0.75\n"
            "  0x0A000263 priority 1 probability 0.1 volume 0.5\n"
            "sound 0x5B: wave none, unknown -1\n"
            "  0x00000000 priority nan probability inf volume -inf\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(SoundTable, JsonGivesNumbersAndNamesTheFloatsThatAreNotFinite) {
  const auto run = run_tool({"sound", archive_, "0x20000001", "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const json expected = {
      {"id", 0x20000001},
      {"hash_key", -7},
      {"hashes", 2},
      {"sounds",
       {{{"kind", 0x46}, {"wave", nullptr}, {"unknown", 5}, {"entries", json::array()}},
        {{"kind", 0x58},
         {"wave", 0x0A000262},
         {"unknown", 0},
         {"entries",
          {{{"wave_did", 0x0A000262}, {"priority", 1.0}, {"probability", 0.25}, {"volume", 0.75}},
           {{"wave_did", 0x0A000263}, {"priority", 1.0}, {"probability", 0.1}, {"volume", 0.5}}}}},
        {{"kind", 0x5B},
         {"wave", nullptr},
         {"unknown", -1},
         {"entries",
          {{{"wave_did", 0}, {"priority", "nan"}, {"probability", "inf"}, {"volume", "-inf"}}}}}}}};
  EXPECT_EQ(json::parse(run.out), expected);
  // The float 0.1 reads as 0.1, not as the double it widens to.
  EXPECT_NE(run.out.find("\"probability\": 0.1,\n"), std::string::npos) << run.out;
}

TEST_F(SoundTable, OnlyTheKindsAskedForInTheOrderAskedEachOnce) {
  const auto run = run_tool({"sound", archive_, "0x20000001", "91", "0x46", "0x46", "0x77"});
  EXPECT_EQ(run.out,
            "id: 0x20000001\n"
            "hash_key: -7\n"
            "hashes: 2\n"
            "sound 0x5B: wave none, unknown -1\n"
            "  0x00000000 priority nan probability inf volume -inf\n"
            "sound 0x46: wave none, unknown 5\n");
  EXPECT_EQ(run.exit_code, 0);
}

struct ResolveCase {
  const char* name;
  std::string table;
  std::vector<std::string> kinds;
  std::string out;
};

void PrintTo(const ResolveCase& param, std::ostream* out) { *out << param.name; }

class RetailResolve : public ToolTest, public ::testing::WithParamInterface<ResolveCase> {};

TEST_P(RetailResolve, AnswersOneLinePerKindInTheOrderAsked) {
  std::vector<std::string> args{"resolve", write_retail(), GetParam().table};
  args.insert(args.end(), GetParam().kinds.begin(), GetParam().kinds.end());
  const auto run = run_tool(args);
  EXPECT_EQ(run.out, GetParam().out);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(
    PinnedAnswers, RetailResolve,
    ::testing::Values(
        ResolveCase{"ShieldTable",
                    "0x20000001",
                    {"0x58", "0x5B", "0x46", "0xFFFFFFFF"},
                    "0x58 0x0A000262\n0x5B 0x0A000274\n0x46 none\n0xFFFFFFFF none\n"},
        ResolveCase{"SwooshTable", "0x200000A8", {"0x1F", "0x46"}, "0x1F 0x0A000519\n0x46 none\n"},
        ResolveCase{
            "DecimalIdsAndKinds", "536871080", {"31", "70"}, "0x1F 0x0A000519\n0x46 none\n"},
        ResolveCase{
            "RepeatedKinds", "0x20000001", {"0x58", "0x58"}, "0x58 0x0A000262\n0x58 0x0A000262\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ToolTest, OnDemandAnswersAsTheWholeDirectoryDoes) {
  const std::string archive = write_retail();
  for (std::vector<std::string> args : {std::vector<std::string>{"cat", archive, "0x0A000262"},
                                        {"cat", archive, "0x200000A8", "--raw"},
                                        {"sound", archive, "0x20000001", "--json"},
                                        {"resolve", archive, "0x200000A8", "0x1F", "0x46"},
                                        {"resolve", archive, "0x2000FFFF", "0x1F"}}) {
    const auto whole = run_tool(args);
    args.push_back("--on-demand");
    const auto on_demand = run_tool(args);
    EXPECT_EQ(on_demand.out, whole.out) << args[0];
    EXPECT_EQ(on_demand.err, whole.err) << args[0];
    EXPECT_EQ(on_demand.exit_code, whole.exit_code) << args[0];
  }
}

TEST_F(ToolTest, DecimalDigitsThatNameSomethingInHexAreQueried) {
  const std::string archive = write_retail();
  // The table typed without its 0x: the error names what was meant.
  const auto table = run_tool({"resolve", archive, "20000001", "0x58"});
  EXPECT_EQ(table.err, error_line("no file 0x01312D01 in the archive (did you mean 0x20000001?)"));
  EXPECT_EQ(table.exit_code, 2);
  const auto cat = run_tool({"cat", archive, "20000001"});
  EXPECT_EQ(cat.err, error_line("no file 0x01312D01 in the archive (did you mean 0x20000001?)"));
  // Digits that name nothing in hex either: the plain error.
  const auto neither = run_tool({"cat", archive, "30000001"});
  EXPECT_EQ(neither.err, error_line("no file 0x01C9C381 in the archive"));
}

TEST_F(SoundTable, KindTypedInDecimalThatTheTableHasInHexIsWarnedOf) {
  // The small table has 0x46, 0x58 and 0x5B; 46 is 0x2E, which it lacks.
  const auto run = run_tool({"resolve", archive_, "0x20000001", "46", "58"});
  EXPECT_EQ(run.out, "0x2E none\n0x3A none\n");
  EXPECT_EQ(run.err,
            "brackwater-dat: warning: no kind 0x2E in the table (did you mean 0x46?)\n"
            "brackwater-dat: warning: no kind 0x3A in the table (did you mean 0x58?)\n");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(SoundTable, FileOfAnotherTypeIsRefusedBeforeDecoding) {
  for (const char* command : {"sound", "resolve"}) {
    const auto run = run_tool({command, archive_, "0x0A000010", "0x58"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, error_line("0x0A000010 is of type 0A, not a sound table (type 20)"));
    EXPECT_EQ(run.exit_code, 2);
  }
}

struct TableFailureCase {
  const char* name;
  test_support::RetailVariant variant;
  std::string table;
  std::string error;
};

void PrintTo(const TableFailureCase& param, std::ostream* out) { *out << param.name; }

// The bytes of the shield table in the archive where it is cut short.
std::size_t truncated_table_size() {
  const auto db = DatDatabase::open_memory(
      test_support::build_synthetic_retail(test_support::RetailVariant::TruncatedShieldTable)
          .image);
  return db->get_file(0x20000001)->size();
}

class UnreadableTable : public ToolTest, public ::testing::WithParamInterface<TableFailureCase> {};

TEST_P(UnreadableTable, FailsWithOneErrorLineAndNoOutput) {
  const std::string archive =
      write_image(test_support::build_synthetic_retail(GetParam().variant).image, "a.dat");
  for (const char* command : {"sound", "resolve"}) {
    SCOPED_TRACE(command);
    const auto run = run_tool({command, archive, GetParam().table, "0x58"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, error_line(GetParam().error));
    EXPECT_EQ(run.exit_code, 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, UnreadableTable,
    ::testing::Values(TableFailureCase{"Missing", test_support::RetailVariant::MissingSwooshTable,
                                       "0x200000A8", "no file 0x200000A8 in the archive"},
                      TableFailureCase{"Truncated",
                                       test_support::RetailVariant::TruncatedShieldTable,
                                       "0x20000001",
                                       "sound table 0x20000001 is cut short: its " +
                                           std::to_string(truncated_table_size()) +
                                           " bytes end inside a record"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brackwater_dat::cli_test
