#include "service/telemetry_reply.h"

#include <gtest/gtest.h>

namespace {
std::optional<std::string> reply(const std::string& query, const wxString& side = L"левый",
                                 bool recording = false) {
    return telemetry_reply(query.data(), query.size(), side, recording);
}

const std::string status_document =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<subsystem name=\"Подвагонное видео (левый борт)\" status=\"остановлен\"/>\n";
const std::string stopped_line = "Подвагонное видео (левый борт) - остановлен";
} // namespace

TEST(telemetry_reply, the_command_selects_the_reply) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"<query command=\"status\"/>", status_document},
        {"<any-root command=\"status\"><child/></any-root>", status_document},
        {"<query command=\"STATUS\"/>", stopped_line},
        {"<query/>", stopped_line},
        {"<query command=\"\"/>", stopped_line},
        {std::string("<query command=\"status\"/>\0<broken", 33), status_document},
        {"<query command=\"status\">", std::nullopt},
        {"status", std::nullopt},
        {"", std::nullopt},
        {"\xff\xfe<", std::nullopt},
    };
    for (const auto& [query, expected] : cases)
        EXPECT_EQ(reply(query), expected) << query;
}

TEST(telemetry_reply, side_and_recording_fill_both_forms) {
    EXPECT_EQ(reply("<q/>", L"правый", true), "Подвагонное видео (правый борт) - работает");
    EXPECT_EQ(reply("<q command=\"status\"/>", L"<&\"", true),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<subsystem name=\"Подвагонное видео "
              "(&lt;&amp;&quot; борт)\" status=\"работает\"/>\n");
}

TEST(telemetry_reply, the_client_query_is_escaped_xml) {
    EXPECT_EQ(telemetry_query("status"), "<query command=\"status\"/>");
    const std::string odd = telemetry_query("a\"<b");
    EXPECT_EQ(reply(odd), stopped_line);
    EXPECT_EQ(odd, "<query command=\"a&quot;&lt;b\"/>");
}
