// The profile text format (Profile.h): parsing it into a model, and the pieces the writer
// shares with the parser.
#include "sandbox/profile/State.h"

#include "sandbox/common/Record.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace sandbox {
namespace state {
namespace {

// Made-up ids: a kind marker and the handle, so that they are unique and stable per run.
Bytes MadeUpId(unsigned char kind, int handle) {
    return Bytes{
        0x00, 0x00, 0x00, 0x00, kind, 0x00, (unsigned char)(handle >> 8), (unsigned char)handle};
}

bool ParseHex(const std::string& text, Bytes* bytes) {
    if (text.size() % 2 != 0)
        return false;
    Bytes result;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end;
        unsigned long value = strtoul(pair, &end, 16);
        if (*end != '\0')
            return false;
        result.push_back((unsigned char)value);
    }
    *bytes = result;
    return true;
}

// Blank-separated tokens; double quotes group blanks ("a b" or key="a b"); inside quotes a
// backslash escapes the next character.
std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        std::string token;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            char c = line[i];
            if (quoted && c == '\\' && i + 1 < line.size())
                token += line[++i];
            else if (c == '"')
                quoted = !quoted;
            else if (!quoted && (c == ' ' || c == '\t'))
                break;
            else
                token += c;
        }
        tokens.push_back(token);
    }
    return tokens;
}

void Complain(int lineNumber, const char* what, const std::string& token) {
    AppendRecord("profile", "profile line %d: %s %s", lineNumber, what, token.c_str());
}

class Parser {
  public:
    Parser(Model* model, std::vector<ItemStart>* starts) : model(*model), starts(*starts) {}

    void Line(const std::string& line, int lineNumber) {
        int indent = 0;
        while (size_t(indent) < line.size() && (line[indent] == ' ' || line[indent] == '\t'))
            ++indent;
        std::vector<std::string> tokens = Tokens(line);
        if (tokens.empty())
            return;
        while (!open.empty() && open.back().first >= indent)
            open.pop_back();
        const std::string& keyword = tokens[0];
        if (keyword == "store" && tokens.size() >= 2)
            StoreLine(tokens, indent, lineNumber);
        else if (keyword == "folder" && tokens.size() >= 2 && store != 0 && !open.empty())
            FolderLine(tokens, indent, lineNumber);
        else if (keyword == "item" && tokens.size() >= 2 && !open.empty() &&
                 open.back().second != 0)
            ItemLine(tokens, lineNumber);
        else if (!FaultLine(tokens))
            Complain(lineNumber, "not understood:", line);
    }

  private:
    void StoreLine(const std::vector<std::string>& tokens, int indent, int lineNumber) {
        model.stores.push_back(Store{tokens[1], MadeUpId(0x53, int(model.stores.size() + 1)), {}});
        store = int(model.stores.size());
        for (size_t i = 2; i < tokens.size(); ++i)
            if (tokens[i].compare(0, 3, "id=") != 0 ||
                !ParseHex(tokens[i].substr(3), &model.stores.back().id))
                Complain(lineNumber, "bad store attribute", tokens[i]);
        open.assign(1, {indent, 0});
    }

    void FolderLine(const std::vector<std::string>& tokens, int indent, int lineNumber) {
        int parent = open.back().second;
        Folder entry;
        entry.store = store;
        entry.parent = parent;
        entry.name = tokens[1];
        model.folders.push_back(entry);
        int handle = int(model.folders.size());
        Folder& folder = model.folders.back();
        folder.id = MadeUpId(0x46, handle);
        if (parent != 0)
            model.folders[parent - 1].children.push_back(handle);
        else
            model.stores[store - 1].folders.push_back(handle);
        for (size_t i = 2; i < tokens.size(); ++i) {
            size_t equals = tokens[i].find('=');
            std::string key = tokens[i].substr(0, equals);
            std::string value = equals == std::string::npos ? "" : tokens[i].substr(equals + 1);
            if (key == "type")
                folder.type = atoi(value.c_str());
            else if (key == "id" && ParseHex(value, &folder.id))
                continue;
            else if (key == "access")
                folder.accessible = value != "no";
            else if (key == "opens")
                folder.opensAsMessage = value == "message";
            else if (key == "outlookentryid")
                folder.outlookIds[false] = value;
            else if (key == "outlookstoreid")
                folder.outlookIds[true] = value;
            else if (key == "msgclass")
                folder.props[TagDefPostMsgClass] = value;
            else if (key == "displayname")
                folder.props[TagDefPostDisplayName] = value;
            else
                Complain(lineNumber, "bad folder attribute", tokens[i]);
        }
        open.push_back({indent, handle});
    }

    void ItemLine(const std::vector<std::string>& tokens, int lineNumber) {
        Item item;
        item.folder = open.back().second;
        ItemStart start;
        start.messageClass = tokens[1];
        for (size_t i = 2; i < tokens.size(); ++i) {
            if (tokens[i].compare(0, 6, "saved=") == 0)
                start.saved = atoi(tokens[i].c_str() + 6);
            else if (tokens[i].compare(0, 8, "subject=") == 0)
                item.subject = tokens[i].substr(8);
            else
                Complain(lineNumber, "bad item attribute", tokens[i]);
        }
        model.items.push_back(item);
        starts.push_back(start);
        model.folders[item.folder - 1].items.push_back(int(model.items.size()));
    }

    // fail / answer / close OBJECT MEMBER K|* [...]; busy STANDIN K MS [retrylater].
    bool FaultLine(const std::vector<std::string>& tokens) {
        const std::string& keyword = tokens[0];
        if (keyword == "busy" && tokens.size() >= 4) {
            model.busy.push_back(Busy{tokens[1], atoi(tokens[2].c_str()),
                                      DWORD(strtoul(tokens[3].c_str(), nullptr, 0)),
                                      tokens.size() >= 5 && tokens[4] == "retrylater"});
            return true;
        }
        if (tokens.size() < 4)
            return false;
        Fault fault{tokens[1], tokens[2], tokens[3] == "*" ? 0 : atoi(tokens[3].c_str()),
                    FaultKind::Fail, DefaultFailure};
        if (keyword == "fail") {
            if (tokens.size() >= 5)
                fault.result = long(strtoul(tokens[4].c_str(), nullptr, 0));
        } else if (keyword == "close") {
            fault.kind = FaultKind::Close;
        } else if (keyword == "answer" && tokens.size() >= 5) {
            fault.result = 0;
            if (tokens[4] == "null")
                fault.kind = FaultKind::AnswerNull;
            else if (tokens[4] == "wrongtype")
                fault.kind = FaultKind::AnswerWrongType;
            else if (tokens[4] == "unknown")
                fault.kind = FaultKind::AnswerUnknown;
            else
                return false;
        } else {
            return false;
        }
        model.faults.push_back(fault);
        return true;
    }

    Model& model;
    std::vector<ItemStart>& starts;
    // Open containers by indentation: (indent, folder handle or 0 for the store itself).
    std::vector<std::pair<int, int>> open;
    int store = 0;
};

} // namespace

void ParseProfile(const std::string& text, Model* model, std::vector<ItemStart>* starts) {
    Parser parser(model, starts);
    int lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        parser.Line(line, lineNumber);
    }
}

std::string Quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            result += '\\';
        result += c;
    }
    return result + "\"";
}

const char* FaultKindName(FaultKind kind) {
    switch (kind) {
    case FaultKind::AnswerNull:
        return "null";
    case FaultKind::AnswerWrongType:
        return "wrongtype";
    case FaultKind::AnswerUnknown:
        return "unknown";
    default:
        return nullptr;
    }
}

} // namespace state

std::string HexText(const unsigned char* data, unsigned long size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned long i = 0; data != nullptr && i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

} // namespace sandbox
