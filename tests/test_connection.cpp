// The connection beneath the protocols, driven by a protocol that is not
// POP3: a toy that says HELLO when the channel opens, answers WELCOME
// with BYE, and closes on the server's own BYE.
#include "net/connection.h"

#include "tests/support/program.h"

namespace {

struct Toy {
  Connection connection;
  HWND window = nullptr;
  std::vector<std::string> lines;
  std::vector<ConnectionEnd> ends;
};
Toy* toy = nullptr;

void toyOpened(HWND, void* owner) {
  Toy* t = (Toy*)owner;
  sendText(&t->connection, "HELLO\r\n", 7);
}
void toyLine(HWND window, void* owner, const char* line) {
  Toy* t = (Toy*)owner;
  t->lines.push_back(line);
  if (t->lines.back() == "WELCOME\r") sendText(&t->connection, "BYE\r\n", 5);
  if (t->lines.back() == "BYE\r") closeConnection(window, &t->connection);
}
void toyEnded(HWND window, void* owner, ConnectionEnd end, const char*) {
  Toy* t = (Toy*)owner;
  t->ends.push_back(end);
  closeConnection(window, &t->connection);
}
void toySecuring(HWND, void*) {}
const ConnectionCalls toyCalls = {toyOpened, toyLine, toyEnded, toySecuring, NULL};

class ToyProtocol : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    window = startProgram();
    // The mailbox has slot 0; the toy takes the next.
    static Toy theToy;
    theToy = Toy();
    toy = &theToy;
    initConnection(&toy->connection, 1, toy);
    standin::onConnect([this](SOCKET s) {
      server = s;
      standin::connectionEstablished(s, 0);
    });
  }
  HWND window = nullptr;
  SOCKET server = INVALID_SOCKET;
};

TEST_F(ToyProtocol, LinesComeWholeTheToySpeaksAndClosesOrIsToldOfTheEnd) {
  openConnection(window, &toy->connection, &toyCalls, "127.0.0.1", 7000, PlainChannel);
  standin::pump();
  EXPECT_EQ("HELLO\r\n", standin::sentBy(server));
  // Split anywhere, and with a NUL, the lines come whole and in order.
  standin::serverSends(server, "WEL");
  standin::pump();
  standin::serverSends(server, std::string("COME\r\nHI\0THERE\r\nBYE\r\nLATE\r\n", 27));
  standin::pump();
  EXPECT_EQ((std::vector<std::string>{"WELCOME\r", "HI THERE\r", "BYE\r"}), toy->lines);
  EXPECT_EQ("HELLO\r\nBYE\r\n", standin::sentBy(server));
  EXPECT_FALSE(standin::socketOpen(server));
  EXPECT_TRUE(toy->ends.empty());

  // A long answer at once, more than one read takes, with a line longer
  // than the buffer inside it: every line whole, the long one cut once.
  openConnection(window, &toy->connection, &toyCalls, "127.0.0.1", 7000, PlainChannel);
  standin::pump();
  toy->lines.clear();
  std::string answer;
  for (int i = 0; i < 3000; i++) {
    if (i == 1500) answer += std::string(3000, 'x') + "\r\n";
    answer += "* " + std::to_string(i) + " FETCH (UID 7)\r\n";
  }
  standin::serverSends(server, answer + "BYE\r\n");
  standin::pump();
  ASSERT_EQ(3002u, toy->lines.size());
  EXPECT_EQ("* 2999 FETCH (UID 7)\r", toy->lines[3000]);
  EXPECT_EQ(std::string(LINE_BUFFER_BYTES - 1, 'x'), toy->lines[1500]);

  // A server that says nothing: the silence ends the connection.
  openConnection(window, &toy->connection, &toyCalls, "127.0.0.1", 7000, PlainChannel);
  standin::pump();
  standin::advance(RESPONSE_TIMEOUT_MS + 1000);
  EXPECT_EQ((std::vector<ConnectionEnd>{EndSilent}), toy->ends);
  // One slow to accept has the whole minute for its first word all the same.
  standin::answerConnections("127.0.0.1", standin::Answer::Accepts, 30000);
  openConnection(window, &toy->connection, &toyCalls, "127.0.0.1", 7000, PlainChannel);
  standin::advance(30000 + RESPONSE_TIMEOUT_MS - 1000);
  EXPECT_EQ(1u, toy->ends.size());
  standin::advance(2000);
  EXPECT_EQ((std::vector<ConnectionEnd>{EndSilent, EndSilent}), toy->ends);
  standin::forgetConnectionAnswers();
  // One that hangs up is heard to, after what it said before.
  openConnection(window, &toy->connection, &toyCalls, "127.0.0.1", 7000, PlainChannel);
  standin::pump();
  standin::serverSends(server, "LAST\r\n");
  standin::serverCloses(server, 0);
  standin::pump();
  EXPECT_EQ("LAST\r", toy->lines.back());
  EXPECT_EQ(EndServerLeft, toy->ends.back());
  // Plain text never leaves a channel meant for TLS.
  openConnection(window, &toy->connection, &toyCalls, "127.0.0.1", 7000, UpgradedChannel);
  standin::pump();
  EXPECT_EQ("", standin::sentBy(server));
  abortConnection(&toy->connection);
}

}  // namespace
