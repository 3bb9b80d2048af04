#include "tests/support/imapserver.h"

#include <ctype.h>
#include <stdlib.h>

#include <algorithm>

namespace {

const size_t NONE = std::string::npos;

std::string upper(std::string text) {
  for (char& c : text) c = (char)toupper((unsigned char)c);
  return text;
}

void say(FakeImap& server, SOCKET s, const std::string& bytes) {
  if (server.pieceSize == 0) return standin::serverSends(s, bytes);
  // Replies to commands that came together follow one another.
  DWORD when = std::max(standin::now(), server.lastPieceAt);
  for (size_t at = 0; at < bytes.size(); at += server.pieceSize) {
    std::string piece = bytes.substr(at, server.pieceSize);
    standin::at(++when, [s, piece] { standin::serverSends(s, piece); });
  }
  server.lastPieceAt = when;
}

// Closes once what was said has arrived.
void hangUp(FakeImap& server, SOCKET s) {
  if (server.pieceSize == 0) return standin::serverCloses(s, 0);
  standin::at(server.lastPieceAt, [s] { standin::serverCloses(s, 0); });
}

std::string newExists(FakeImap& server) {
  if (server.phase != FakeImap::Examined || server.toldExists == server.messages.size()) return "";
  server.toldExists = server.messages.size();
  return "* " + std::to_string(server.toldExists) + " EXISTS\r\n";
}

// An astring from at on: an atom, a quoted string (7-bit, with a backslash
// before a quote or a backslash only) or a literal (count, CR LF, bytes).
bool takeString(const std::string& text, size_t& at, std::string* value) {
  while (at < text.size() && text[at] == ' ') at++;
  if (at >= text.size()) return false;
  value->clear();
  if (text[at] == '"') {
    for (at++; at < text.size() && text[at] != '"'; at++) {
      if (text[at] == '\\' && (++at == text.size() || (text[at] != '"' && text[at] != '\\')))
        return false;
      if ((unsigned char)text[at] >= 0x80) return false;
      value->push_back(text[at]);
    }
    return at++ < text.size();
  }
  if (text[at] != '{') {
    size_t end = std::min(text.find(' ', at), text.size());
    *value = text.substr(at, end - at);
    at = end;
    return true;
  }
  size_t end = text.find("}\r\n", at);
  if (end == NONE) return false;
  size_t count = strtoul(text.c_str() + at + 1, nullptr, 10);
  *value = text.substr(end + 3, count);
  at = end + 3 + count;
  return value->size() == count;
}

// RFC 4616: who to act as (none, or the user), the user and the password,
// each after a NUL, in base64.
bool plainMatches(const FakeImap& server, const std::string& encoded) {
  static const std::string digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string plain;
  unsigned bits = 0, count = 0;
  for (size_t i = 0; i < encoded.size() && encoded[i] != '='; i++) {
    size_t digit = digits.find(encoded[i]);
    if (digit == NONE) return false;
    bits = bits << 6 | (unsigned)digit;
    if ((count += 6) >= 8) plain.push_back((char)(bits >> (count -= 8) & 0xFF));
  }
  return plain == server.user + '\0' + server.user + '\0' + server.password ||
         plain == '\0' + server.user + '\0' + server.password;
}

bool logIn(FakeImap& server, bool matches) {
  if (matches) server.phase = FakeImap::LoggedIn;
  return matches;
}

// The fields a section names ("HEADER.FIELDS (FROM SUBJECT)"), each with
// its folded lines, and the blank line after them.
std::string sectionOf(const std::string& header, const std::string& section) {
  size_t open = section.find('(');
  if (open == NONE) return header + "\r\n";
  std::string names = " " + section.substr(open + 1, section.find(')') - open - 1) + " ", kept;
  bool keep = false;
  for (size_t at = 0, end; (end = header.find("\r\n", at)) != NONE; at = end + 2) {
    std::string line = header.substr(at, end - at);
    if (line[0] != ' ' && line[0] != '\t')
      keep = names.find(" " + upper(line.substr(0, line.find(':'))) + " ") != NONE;
    if (keep) kept += line + "\r\n";
  }
  return kept + "\r\n";
}

// A set of UIDs ("4:*", "1,3:5"): "*" is the highest UID in use, so
// "n:*" holds the newest message even when n is above every UID.
bool inSet(const std::string& set, unsigned uid, unsigned highest) {
  auto value = [highest](const std::string& text) {
    return text == "*" ? highest : (unsigned)strtoul(text.c_str(), nullptr, 10);
  };
  for (size_t at = 0, end; at <= set.size(); at = end + 1) {
    end = std::min(set.find(',', at), set.size());
    std::string part = set.substr(at, end - at);
    size_t colon = part.find(':');
    unsigned a = value(part.substr(0, colon)),
             b = colon == NONE ? a : value(part.substr(colon + 1));
    if (uid >= std::min(a, b) && uid <= std::max(a, b)) return true;
  }
  return false;
}

std::string fetch(FakeImap& server, const std::string& arguments) {
  size_t space = arguments.find(' ');
  std::string set = arguments.substr(0, space), items = upper(arguments.substr(space + 1));
  size_t open = items.find("BODY");
  bool body = open != NONE, seen = body && items.find("BODY.PEEK[") == NONE;
  std::string section = body ? items.substr(open = items.find('[', open) + 1) : "";
  section = section.substr(0, section.find(']'));
  server.couldSetSeen |= seen;
  std::string reply;
  unsigned highest = server.messages.empty() ? 0 : server.messages.back().uid;
  for (size_t i = 0; i < server.messages.size(); i++) {
    FakeImap::Message& message = server.messages[i];
    if (!inSet(set, message.uid, highest)) continue;
    if (seen) message.flags = "\\Seen";
    reply += "* " + std::to_string(i + 1) + " FETCH (UID " + std::to_string(message.uid);
    if (items.find("FLAGS") != NONE || seen) reply += " FLAGS (" + message.flags + ")";
    std::string bytes = sectionOf(message.header, section);
    if (body) reply += " BODY[" + section + "] {" + std::to_string(bytes.size()) + "}\r\n" + bytes;
    reply += ")\r\n";
  }
  return reply;
}

// "[RETURN (COUNT MAX ALL)] [UID set] [UNSEEN|ALL]": SEARCH's UIDs, or
// ESEARCH's items asked where the server offers it (ALL one by one).
std::string search(FakeImap& server, const std::string& tag, const std::string& arguments) {
  std::string words = upper(arguments) + " ", asked, set = "1:*";
  if (words.compare(0, 8, "RETURN (") == 0) {
    asked = words.substr(7, words.find(')') - 6);
    words = words.substr(words.find(')') + 2);
    if (server.toldCapabilities.find(" ESEARCH") == NONE) return tag + " BAD no ESEARCH\r\n";
  }
  if (words.compare(0, 4, "UID ") == 0) set = words.substr(4, words.find(' ', 4) - 4);
  std::vector<unsigned> found;
  unsigned highest = server.messages.empty() ? 0 : server.messages.back().uid;
  for (const FakeImap::Message& message : server.messages)
    if (inSet(set, message.uid, highest) &&
        (words.find("UNSEEN") == NONE || message.flags.find("\\Seen") == NONE))
      found.push_back(message.uid);
  std::string reply = asked.empty() ? "* SEARCH" : "* ESEARCH (TAG \"" + tag + "\") UID";
  if (asked.find("COUNT") != NONE) reply += " COUNT " + std::to_string(found.size());
  if (asked.find("MAX") != NONE && !found.empty()) reply += " MAX " + std::to_string(found.back());
  std::string list;
  for (unsigned uid : found) list += (asked.empty() ? " " : ",") + std::to_string(uid);
  if (asked.empty()) reply += list;
  if (asked.find("ALL") != NONE && !list.empty()) reply += " ALL " + list.substr(1);
  return reply + "\r\n" + tag + " OK SEARCH completed\r\n";
}

// The reply to a whole command that the options leave to the server.
std::string reply(FakeImap& server, SOCKET s, const std::string& tag, const std::string& name,
                  const std::string& arguments) {
  std::string ok = tag + " OK " + name + " completed\r\n";
  std::string refused = tag + " NO [AUTHENTICATIONFAILED] invalid credentials\r\n";
  bool loggedIn = server.phase != FakeImap::LoggedOut;
  size_t at = 0;
  std::string user, password, first;
  takeString(arguments, at, &first);
  bool inbox = upper(first) == "INBOX";
  if (name == "CAPABILITY") {
    std::string list;
    for (const std::string& capability : server.capabilities) list += " " + capability;
    server.toldCapabilities += list;
    return "* CAPABILITY" + list + "\r\n" + ok;
  }
  if (name == "NOOP") return newExists(server) + ok;
  if (name == "LOGOUT") return "* BYE logging out\r\n" + ok;
  if (name == "LOGIN" && !loggedIn) {
    at = 0;
    if (!takeString(arguments, at, &user) || !takeString(arguments, at, &password) ||
        at != arguments.size())
      return tag + " BAD unreadable LOGIN\r\n";
    if (server.loginDisabled) return tag + " NO LOGIN is disabled\r\n";
    return logIn(server, user == server.user && password == server.password) ? ok : refused;
  }
  if (name == "AUTHENTICATE" && !loggedIn && upper(first) == "PLAIN") {
    if (arguments.size() <= 6) {
      server.authenticateTag = tag;
      return "+ \r\n";
    }
    return logIn(server, plainMatches(server, arguments.substr(6))) ? ok : refused;
  }
  if ((name == "EXAMINE" || name == "SELECT") && loggedIn) {
    if (!inbox) return tag + " NO [NONEXISTENT] no such mailbox\r\n";
    server.couldSetSeen |= name == "SELECT";
    server.phase = FakeImap::Examined;
    server.toldExists = server.messages.size();
    return "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* " +
           std::to_string(server.messages.size()) + " EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY " +
           std::to_string(server.uidValidity) + "] UIDs valid\r\n" +
           (server.noUidNext
                ? ""
                : "* OK [UIDNEXT " + std::to_string(server.uidNext) + "] predicted next UID\r\n") +
           tag + (name == "SELECT" ? " OK [READ-WRITE] " : " OK [READ-ONLY] ") + name +
           " completed\r\n";
  }
  if (name == "STATUS" && loggedIn && inbox)
    return "* STATUS INBOX (MESSAGES " + std::to_string(server.messages.size()) + " UIDNEXT " +
           std::to_string(server.uidNext) + " UIDVALIDITY " + std::to_string(server.uidValidity) +
           ")\r\n" + ok;
  bool examined = server.phase == FakeImap::Examined;
  if (name == "UID FETCH" && examined) return fetch(server, arguments) + ok;
  if (name == "UID SEARCH" && examined) return search(server, tag, arguments);
  if ((name == "STORE" || name == "UID STORE") && examined) {
    server.couldSetSeen = true;
    return ok;
  }
  if (name != "IDLE" || !loggedIn) return tag + " BAD unknown command, or not now\r\n";
  server.idleTag = tag;
  int idle = ++server.idles;
  FakeImap* self = &server;
  if (server.idleDropMs)
    standin::at(standin::now() + server.idleDropMs, [self, s, idle] {
      if (self->socket != s || self->idles != idle || self->idleTag.empty()) return;
      self->idleTag.clear();
      say(*self, s, "* BYE idle for too long\r\n");
      hangUp(*self, s);
    });
  if (server.idleEndMs)
    standin::at(standin::now() + server.idleEndMs, [self, s, idle] {
      if (self->socket != s || self->idles != idle || self->idleTag.empty()) return;
      say(*self, s, self->idleTag + " OK IDLE ended by the server\r\n");
      self->idleTag.clear();
    });
  return "+ idling\r\n" + (server.silentIdle ? "" : newExists(server));
}

// A whole command, its literals included.
void take(FakeImap& server, SOCKET s, const std::string& text) {
  server.commands.push_back(text);
  size_t space = std::min(text.find(' '), text.size());
  std::string tag = text.substr(0, space), command = text.substr(std::min(space + 1, text.size()));
  std::string name = upper(command.substr(0, command.find(' ')));
  if (name == "UID" && command.size() > 4)
    name += " " + upper(command.substr(4, command.find(' ', 4) - 4));
  std::string arguments = command.substr(std::min(name.size() + 1, command.size()));
  auto named = [&command](const std::string& key) {
    std::string upperCommand = upper(command);
    return upperCommand.compare(0, key.size(), key) == 0 &&
           (upperCommand.size() == key.size() || upperCommand[key.size()] == ' ');
  };
  bool literalFault = server.literalFault;
  server.literalFault = false;
  for (const std::string& key : server.byeOn)
    if (named(key)) {
      say(server, s, "* BYE shutting down\r\n");
      return hangUp(server, s);
    }
  for (const auto& custom : server.replies) {
    if (!named(custom.first)) continue;
    // A LOGIN answered OK in the test's words logs in all the same.
    if (custom.first == "LOGIN" && custom.second.compare(0, 2, "OK") == 0) {
      logIn(server, true);
      server.toldCapabilities += " " + custom.second;
    }
    size_t last = custom.second.rfind("\r\n");
    last = last == NONE ? 0 : last + 2;
    return say(server, s,
               custom.second.substr(0, last) + tag + " " + custom.second.substr(last) + "\r\n");
  }
  if (literalFault) return say(server, s, tag + " BAD literal sent unasked\r\n");
  if (name == "STARTTLS" && server.tls == 1 && !server.underTls) {
    standin::serverSends(s, tag + " OK begin TLS\r\n" + server.startTlsInjection);
    server.underTls = true;
    return standin::serveTls(s, server.tlsScript);
  }
  std::string answer = reply(server, s, tag, name, arguments);
  if (name == server.heldBack) return (void)(server.heldAnswer = answer);
  if (name == "UID SEARCH") answer += server.heldAnswer;
  if (name == "UID SEARCH") server.heldAnswer.clear();
  say(server, s, answer);
  if (name == "LOGOUT") hangUp(server, s);
}

void hear(FakeImap& server, SOCKET s, const std::string& line) {
  std::string text = line;
  size_t after = 0;  // where the text after the last literal begins
  if (!server.awaitedLiteral.empty()) {
    // A synchronising literal sent with its count, before the go-ahead
    // could have been read, is a fault. The stand-in gives lines: a
    // literal holds no line break.
    text = server.awaitedLiteral + "\r\n" + line;
    after = text.size() - line.size() + server.literalBytes;
    server.literalFault |= server.sendsAtGoAhead == standin::traceOf("send(").size();
    server.awaitedLiteral.clear();
  } else if (!server.authenticateTag.empty()) {
    server.commands.push_back(line);
    std::string tag = server.authenticateTag;
    server.authenticateTag.clear();
    if (line == "*") return say(server, s, tag + " BAD AUTHENTICATE cancelled\r\n");
    return say(server, s,
               tag + (logIn(server, plainMatches(server, line))
                          ? " OK AUTHENTICATE completed\r\n"
                          : " NO [AUTHENTICATIONFAILED] invalid credentials\r\n"));
  } else if (!server.idleTag.empty()) {
    server.commands.push_back(line);
    if (upper(line) != "DONE") return say(server, s, "* BAD expected DONE\r\n");
    say(server, s, server.idleTag + " OK IDLE terminated\r\n");
    return server.idleTag.clear();
  }
  // A literal's count ends the line: its bytes come next, after the
  // server's go-ahead unless it is "{n+}" (LITERAL+).
  size_t open = text.rfind('{');
  if (text.empty() || text.back() != '}' || open == NONE || open < after ||
      !isdigit((unsigned char)text[open + 1]))
    return take(server, s, text);
  bool plus = text[text.size() - 2] == '+';
  server.awaitedLiteral = text;
  server.literalBytes = strtoul(text.c_str() + open + 1, nullptr, 10);
  server.literalFault |= plus && (server.toldCapabilities + " ").find(" LITERAL+ ") == NONE;
  server.sendsAtGoAhead = NONE;
  if (plus) return;
  say(server, s, "+ go ahead\r\n");
  server.sendsAtGoAhead = standin::traceOf("send(").size();
}

void greet(FakeImap& server, SOCKET s) {
  const std::string& greeting = server.greeting;
  say(server, s, greeting + "\r\n");
  size_t code = greeting.find("[CAPABILITY ");
  if (code != NONE)
    server.toldCapabilities = greeting.substr(code + 11, greeting.find(']', code) - code - 11);
  if (greeting.compare(0, 9, "* PREAUTH") == 0) server.phase = FakeImap::LoggedIn;
  if (greeting.compare(0, 5, "* BYE") == 0) hangUp(server, s);
}

}  // namespace

void serveImap(FakeImap& server) {
  FakeImap* self = &server;
  standin::onConnect([self](SOCKET s) {
    self->socket = s;
    self->connections++;
    self->phase = FakeImap::LoggedOut;
    self->underTls = self->tls == 2;
    self->literalFault = false;
    self->idleTag = self->awaitedLiteral = self->authenticateTag = self->toldCapabilities = "";
    self->toldExists = 0;
    if (self->validityPerSession) self->uidValidity++;
    standin::connectionEstablished(s, 0);
    if (self->tls != 2) return greet(*self, s);
    standin::serveTls(s, self->tlsScript);
  });
  standin::onTlsOpen([self](SOCKET s) {
    if (self->tls == 2) greet(*self, s);
  });
  standin::onLineSent([self](SOCKET s, const std::string& line) { hear(*self, s, line); });
}

void imapSay(FakeImap& server, const std::string& bytes) {
  standin::serverSends(server.socket, bytes);
}

void deliver(FakeImap& server, const std::string& header, const std::string& flags) {
  server.messages.push_back({server.uidNext++, flags, header});
  if (server.idleTag.empty() || server.silentIdle || !standin::socketOpen(server.socket)) return;
  std::string exists = newExists(server);
  if (!exists.empty() && server.idleEndsWithNews) {
    exists += server.idleTag + " OK IDLE ended\r\n";
    server.idleTag.clear();
  }
  if (!exists.empty()) say(server, server.socket, exists);
}
