#include "tests/support/pop3server.h"

#include <algorithm>

namespace {

std::string answerTo(FakePop3& server, const std::string& line) {
  std::string word = line.substr(0, line.find(' '));
  auto custom = server.replies.find(word);
  if (custom != server.replies.end()) return custom->second;
  if (word == "USER") return line == "USER " + server.user ? "+OK" : "-ERR no such user";
  if (word == "PASS")
    return line == "PASS " + server.password ? "+OK logged in" : "-ERR bad password";
  if (word == "APOP") return "+OK logged in";
  if (word == "CAPA") {
    if (server.capabilities.empty()) return "-ERR unknown command";
    std::string list = "+OK";
    for (const std::string& capability : server.capabilities) list += "\r\n" + capability;
    return list + "\r\n.";
  }
  if (word == "STAT") return "+OK " + std::to_string(server.uids.size()) + " 4096";
  if (line == "UIDL") {
    if (!server.lists) return "-ERR no listing";
    if (!server.listing.empty()) return server.listing;
    std::string listing = "+OK";
    for (size_t n = 1; n <= server.uids.size(); n++)
      listing += "\r\n" + std::to_string(n) + " " + server.uids[n - 1];
    return listing + "\r\n.";
  }
  if (word == "UIDL") {
    size_t number = std::stoul(line.substr(5));
    if (number == 0 || number > server.uids.size()) return "-ERR no such message";
    return "+OK " + std::to_string(number) + " " + server.uids[number - 1];
  }
  if (word == "TOP") {
    size_t number = std::stoul(line.substr(4));
    if (number == 0 || number > server.headers.size() || server.headers[number - 1].empty())
      return "-ERR no such message";
    return "+OK\r\n" + server.headers[number - 1] + "\r\n.";
  }
  if (word == "QUIT") return "+OK bye";
  return "-ERR unknown command";
}

void deliver(FakePop3& server, SOCKET s, const std::string& bytes) {
  DWORD when = standin::now() + server.replyDelayMs;
  if (server.pieceSize == 0 && server.replyDelayMs == 0) {
    standin::serverSends(s, bytes);
    return;
  }
  if (server.pieceSize == 0) {
    standin::at(when, [s, bytes] { standin::serverSends(s, bytes); });
    return;
  }
  // Replies to commands that came together follow one another.
  when = std::max(when, server.lastPieceAt);
  for (size_t at = 0; at < bytes.size(); at += server.pieceSize) {
    std::string piece = bytes.substr(at, server.pieceSize);
    standin::at(++when, [s, piece] { standin::serverSends(s, piece); });
  }
  server.lastPieceAt = when;
}

}  // namespace

void servePop3(FakePop3& server) {
  FakePop3* self = &server;
  standin::onConnect([self](SOCKET s) {
    self->socket = s;
    self->eventsAtConnect = standin::selectedEvents(s);
    self->connections++;
    if (!self->acceptsConnection) {
      standin::connectionEstablished(s, self->connectionError);
      return;
    }
    standin::connectionEstablished(s, 0);
    auto closes = self->closesOn.find("greeting");
    if (closes != self->closesOn.end()) {
      standin::serverCloses(s, closes->second);
      return;
    }
    if (self->tls == 2) return standin::serveTls(s, self->tlsScript);
    if (self->greets) deliver(*self, s, self->greeting + "\r\n");
  });
  standin::onTlsOpen([self](SOCKET s) {
    if (self->tls == 2 && self->greets) deliver(*self, s, self->greeting + "\r\n");
  });
  standin::onLineSent([self](SOCKET s, const std::string& line) {
    self->commands.push_back(line);
    std::string word = line.substr(0, line.find(' '));
    const auto& silent = self->silentOn;
    if (std::find(silent.begin(), silent.end(), word) != silent.end() ||
        std::find(silent.begin(), silent.end(), line) != silent.end())
      return;
    auto closes = self->closesOn.find(line);
    if (closes == self->closesOn.end()) closes = self->closesOn.find(word);
    if (closes != self->closesOn.end()) {
      standin::serverCloses(s, closes->second);
      return;
    }
    if (word == "STLS" && self->tls == 1 && !self->replies.count("STLS")) {
      standin::serverSends(s, "+OK begin TLS\r\n");
      return standin::serveTls(s, self->tlsScript);
    }
    deliver(*self, s, answerTo(*self, line) + "\r\n");
    if (word == "QUIT" && self->closesAfterQuit) standin::serverCloses(s, 0);
  });
}

void serverSay(FakePop3& server, const std::string& bytes) {
  standin::serverSends(server.socket, bytes);
}
