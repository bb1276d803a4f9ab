#include "json_doc.h"

#include <sstream>
#include <stdexcept>

#include "disk_image.h"

namespace testjson {

namespace {

// Prints one line per value: path, type letter, text (strings as the hex of their UTF-8).
const char *const FLATTEN = R"(import json, sys
def pairs(items):
    keys = [k for k, _ in items]
    if len(set(keys)) != len(keys):
        raise ValueError("a key twice")
    return dict(items)
def refuse(name):
    raise ValueError(name)
def emit(path, v):
    if isinstance(v, dict):
        print(path, "o", len(v), sep="\t")
        for k, x in v.items():
            emit(path + "/" + k, x)
    elif isinstance(v, list):
        print(path, "a", len(v), sep="\t")
        for i, x in enumerate(v):
            emit(path + "/" + str(i), x)
    elif isinstance(v, str):
        print(path, "s", v.encode("utf-8").hex(), sep="\t")
    elif v is None:
        print(path, "z", "", sep="\t")
    elif isinstance(v, bool):
        print(path, "b", int(v), sep="\t")
    elif isinstance(v, int):
        print(path, "n", v, sep="\t")
    else:
        raise ValueError("not a whole number")
emit("", json.loads(sys.stdin.buffer.read().decode("utf-8"), object_pairs_hook=pairs, parse_constant=refuse))
)";

std::string unhex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

[[noreturn]] void wrong(const std::string &what)
{
    throw std::runtime_error("JSON: " + what);
}

} // namespace

const std::string &python()
{
    static const std::string path = testimg::find_on_path("python3");
    return path;
}

Value parse(const std::string &document)
{
    if (python().empty())
        wrong("python3 is not installed");
    testimg::RunResult r = testimg::run_program(python(), {"-c", FLATTEN}, document);
    if (r.status != 0)
        wrong("python3 refuses the document: " + r.err);
    auto nodes = std::make_shared<std::vector<Node>>();
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        size_t tab = line.find('\t');
        Node n{line.substr(0, tab), line[tab + 1], line.substr(tab + 3)};
        if (n.type == 's')
            n.text = unhex(n.text);
        nodes->push_back(n);
    }
    return Value(nodes, 0);
}

const Node &Value::node(char type, bool check) const
{
    if (!nodes_)
        wrong("no document");
    const Node &n = (*nodes_)[index_];
    if (check && n.type != type)
        wrong(n.path + " is not of type " + type);
    return n;
}

std::vector<size_t> Value::children() const
{
    const std::string prefix = node('z', false).path + "/";
    std::vector<size_t> out;
    for (size_t i = index_ + 1; i < nodes_->size() && (*nodes_)[i].path.rfind(prefix, 0) == 0; ++i)
        if ((*nodes_)[i].path.find('/', prefix.size()) == std::string::npos)
            out.push_back(i);
    return out;
}

bool Value::has(const std::string &key) const
{
    for (const std::string &k : keys())
        if (k == key)
            return true;
    return false;
}

Value Value::operator[](const std::string &key) const
{
    node('o');
    for (size_t i : children())
        if ((*nodes_)[i].path == node('o').path + "/" + key)
            return Value(nodes_, i);
    wrong("no key \"" + key + "\" in " + node('o').path);
}

Value Value::operator[](size_t index) const
{
    std::vector<size_t> items = children();
    if (node('a').type != 'a' || index >= items.size())
        wrong("no item " + std::to_string(index) + " in " + node('a').path);
    return Value(nodes_, items[index]);
}

size_t Value::size() const
{
    char type = node('z', false).type;
    if (type != 'o' && type != 'a')
        wrong(node('z', false).path + " is neither an object nor an array");
    return children().size();
}

std::vector<std::string> Value::keys() const
{
    std::vector<std::string> out;
    size_t skip = node('o').path.size() + 1;
    for (size_t i : children())
        out.push_back((*nodes_)[i].path.substr(skip));
    return out;
}

} // namespace testjson
