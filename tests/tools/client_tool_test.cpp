#include <cstdio>
#include <sys/wait.h>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "recording/session_db.h"
#include "service/data_service.h"
#include "service/telemetry.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"

namespace {
struct run_result {
    int status = -1;
    std::string out;
};

// tresvik-client with the arguments, its standard error joined to its output.
run_result client(const std::string& arguments) {
    const std::string command =
        std::string(std::getenv("TRESVIK_BIN")) + "/tresvik-client " + arguments + " 2>&1";
    run_result result;
    FILE* out = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, out)) > 0;)
        result.out.append(buffer, got);
    const int status = pclose(out);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The service on a free port over an index of one session, "A7 : 12" with one frame at 100.
struct client_tool_fixture : testing::Test {
    temp_dir root;
    event_recorder owner;
    service_thread service{&owner, "0"};
    const std::string session = root.path() + "/s";

    client_tool_fixture() {
        write_raw_session(session, {{"0000000100", jpeg_of(test_frame(1, 48, 64))},
                                    {"dpp_end", "0000000100"},
                                    {"dpp_start", "0000000100"},
                                    {"session", "A7 : 12"}});
        set_database_root(root.path(), [](const std::string&) {});
        service.Run();
        while (service.port() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~client_tool_fixture() override {
        service.stop();
        service.Wait();
        set_database_root("", [](const std::string&) {});
    }
    std::string port() const { return " --port " + std::to_string(service.port()) + " "; }
};
} // namespace

TEST_F(client_tool_fixture, fetch_saves_the_png_and_tells_its_size_and_geometry) {
    const std::string out = root.path() + "/out.png";
    for (const std::string form : {"A7 12", "--short 0xA7 12"}) {
        const run_result result = client("fetch" + port() + form + " 100 " + out);
        if (form == "A7 12") {
            EXPECT_EQ(result.status, 0) << result.out;
            EXPECT_NE(result.out.find("64 x 48, 3 channel(s)"), std::string::npos) << result.out;
            EXPECT_EQ(cv::imread(out, cv::IMREAD_UNCHANGED).channels(), 3);
        } else {
            EXPECT_EQ(result.status, 0) << "an unknown session gets the not-found picture";
            EXPECT_NE(result.out.find("640 x 480, 1 channel(s)"), std::string::npos) << result.out;
        }
    }
}

TEST_F(client_tool_fixture, fetch_fails_clearly_when_there_is_no_image) {
    session_writer holder; // the folder's lock makes the fetch fail: the response is empty
    holder.open(session);
    const run_result empty = client("fetch" + port() + "A7 12 100 " + root.path() + "/x.png");
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.out.find("length 0"), std::string::npos) << empty.out;
    const run_result nobody = client("fetch --port 1 A7 12 100 " + root.path() + "/x.png");
    EXPECT_EQ(nobody.status, 1);
    EXPECT_NE(nobody.out.find("nothing listens at 127.0.0.1:1"), std::string::npos) << nobody.out;
    const run_result bad = client("fetch --short A7 x 1 " + root.path() + "/x.png");
    EXPECT_EQ(bad.status, 2) << bad.out;
}

TEST_F(client_tool_fixture, fetch_fails_when_the_png_cannot_be_written) {
    const run_result result = client("fetch" + port() + "A7 12 100 " + root.path() + "/no/x.png");
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find("/no/x.png: cannot write the file"), std::string::npos) << result.out;
}

TEST(client_tool, status_prints_the_reply_or_fails_without_one) {
    event_recorder owner;
    telemetry_thread telemetry(&owner, L"левый", 0, [] { return true; });
    telemetry.Run();
    const std::string port = " --port " + std::to_string(telemetry.port());
    const run_result text = client("status --command text" + port);
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "Подвагонное видео (левый борт) - работает\n");
    EXPECT_NE(client("status" + port).out.find("status=\"работает\"/>"), std::string::npos);
    telemetry.stop();
    telemetry.Wait();
    EXPECT_EQ(client("status --timeout 0.2" + port).status, 1);
}
