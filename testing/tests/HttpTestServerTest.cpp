// The loopback server parses what clients send and keeps many connections at once; these
// checks use raw sockets so they do not lean on the HTTP client under test elsewhere.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "testing/HttpTestServer.h"

namespace {

using testing_support::HttpTestServer;

int connectTo(HttpTestServer const& server) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

std::string exchange(int fd, std::string const& request) {
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    std::string reply;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) reply.append(buf, size_t(n));
    ::close(fd);
    return reply;
}

TEST(HttpTestServerTest, ParsesChunkedAndSizedBodiesAndAnswersFromTheScript) {
    HttpTestServer server;
    server.on("/a", {HttpTestServer::Reply::answer(201, "first"), HttpTestServer::Reply::redirect(302, "/b")});
    std::string r1 = exchange(connectTo(server),
                              "POST /a?x=1&y HTTP/1.1\r\nHost: h\r\nX-Two: 1\r\nx-two: 2\r\nTransfer-Encoding: chunked\r\n"
                              "Connection: close\r\n\r\n4\r\nWiki\r\n5;ext=1\r\npedia\r\n0\r\nTrailer: t\r\n\r\n");
    EXPECT_NE(r1.find("HTTP/1.1 201"), std::string::npos);
    EXPECT_NE(r1.find("\r\n\r\nfirst"), std::string::npos);
    // Keep-alive: two requests on one connection, the second answered by the script's next reply.
    std::string r2 = exchange(connectTo(server),
                              "PUT /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET /a HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_NE(r2.find("Location: /b"), std::string::npos);
    EXPECT_NE(exchange(connectTo(server), "GET /none HTTP/1.0\r\n\r\n").find("HTTP/1.1 404"), std::string::npos);

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/a");
    EXPECT_EQ(requests[0].query, "x=1&y");
    EXPECT_EQ(requests[0].body, "Wikipedia");
    EXPECT_EQ(requests[0].header("X-TWO"), "1, 2");
    EXPECT_EQ(requests[0].answeredStatus, 201);
    EXPECT_EQ(requests[1].body, "abc");
    EXPECT_EQ(requests[2].answeredStatus, 302);
    EXPECT_LE(requests[0].arrival, requests[1].arrival);
}

TEST(HttpTestServerTest, HoldsSixteenConnectionsUntilReleased) {
    HttpTestServer server;
    server.on("/hold", HttpTestServer::Reply::of(HttpTestServer::Reply::Kind::Hold));
    std::vector<std::thread> clients;
    std::vector<std::string> replies(16);
    for (int i = 0; i < 16; ++i)
        clients.emplace_back([&, i] { replies[size_t(i)] = exchange(connectTo(server), "GET /hold HTTP/1.1\r\nConnection: close\r\n\r\n"); });
    ASSERT_TRUE(server.waitForRequests(16, std::chrono::seconds(10)));
    for (int i = 0; i < 200 && server.heldNow() < 16; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server.heldNow(), 16u);
    EXPECT_GE(server.peakConcurrentConnections(), 16u);
    server.release();
    for (auto& c : clients) c.join();
    for (auto const& r : replies) EXPECT_NE(r.find("HTTP/1.1 200"), std::string::npos);
}

TEST(HttpTestServerTest, MisbehavesAsScripted) {
    HttpTestServer server;
    HttpTestServer::Reply partial = HttpTestServer::Reply::answer(200, "0123456789");
    partial.kind = HttpTestServer::Reply::Kind::PartialBodyThenClose;
    server.on("/partial", partial);
    server.on("/close", HttpTestServer::Reply::of(HttpTestServer::Reply::Kind::CloseWithoutReply));
    std::string r = exchange(connectTo(server), "GET /partial HTTP/1.1\r\n\r\n");
    EXPECT_NE(r.find("Content-Length: 10"), std::string::npos);
    EXPECT_EQ(r.substr(r.size() - 5), "01234");
    EXPECT_EQ(exchange(connectTo(server), "GET /close HTTP/1.1\r\n\r\n"), "");
    for (auto const& req : server.requests()) EXPECT_EQ(req.answeredStatus, 0) << req.path;
}

}  // namespace
