#include "linker.hpp"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <unordered_map>

#include "diagnostics.hpp"
#include "lexer.hpp"
#include "runtime.hpp"

namespace kep {

std::string read_source_file(const std::string& path) {
  Value text = builtin_readfile(path);
  return as_str(text)->s;
}

// The stored copy of a path, which nodes point at for the life of the run.
static const std::string* intern_path(const std::string& path) {
  static std::set<std::string> paths;
  return &*paths.insert(path).first;
}

std::string get_parent_directory(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

static bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string tree_root() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || n >= (ssize_t)sizeof buffer) return ".";
  return get_parent_directory(get_parent_directory(std::string(buffer, (size_t)n)));
}

std::string locate_library_source() {
  const std::string relative = "compiler/pure/dynamic_stdlib.kep";
  if (exists(relative)) return relative;
  std::string installed = tree_root() + "/" + relative;
  return exists(installed) ? installed : "";
}

// Candidates in order: beside the loading file; the compiler's sources for
// programs under tests/; stdlib/ of the current directory; stdlib/ of the
// tree kep0 was built in; the user's library directory. A module found
// nowhere resolves to the tree's stdlib path, whose read then fails.
static std::string resolve_module(const std::string& module, const std::string& importer) {
  std::string rel = module;
  for (char& c : rel)
    if (c == '.') c = '/';
  rel += ".kep";
  std::string beside = get_parent_directory(importer) + "/" + rel;
  if (exists(beside)) return beside;
  if (importer.rfind("tests/", 0) == 0 || importer.find("/tests/") != std::string::npos) {
    if (exists("compiler/pure/" + rel)) return "compiler/pure/" + rel;
  }
  if (exists("stdlib/" + rel)) return "stdlib/" + rel;
  std::string in_tree = tree_root() + "/stdlib/" + rel;
  if (exists(in_tree)) return in_tree;
  const char* home = getenv("HOME");
  if (home && *home) {
    std::string user = std::string(home) + "/.local/lib/kep/stdlib/" + rel;
    if (exists(user)) return user;
  }
  return in_tree;
}

static std::string make_module_prefix(const std::string& module) {
  std::string prefix;
  for (char c : module) prefix += c == '.' ? std::string("__") : std::string(1, c);
  return prefix + "__";
}

// ---------------------------------------------------------------- tagging

static void tag_expression(Node* e, const std::string* path);

static void tag_list(NodeList& nodes, const std::string* path) {
  for (Node* n : nodes) tag_expression(n, path);
}

static void tag_expression(Node* e, const std::string* path) {
  if (!e) return;
  e->path = path;
  tag_expression(e->target, path);
  tag_expression(e->left, path);
  tag_expression(e->right, path);
  tag_expression(e->operand, path);
  tag_expression(e->index, path);
  tag_expression(e->start, path);
  tag_expression(e->stop, path);
  tag_expression(e->step, path);
  tag_list(e->items, path);
  for (auto& entry : e->entries) {
    tag_expression(entry.first, path);
    tag_expression(entry.second, path);
  }
}

static void tag_statements(NodeList& statements, const std::string* path) {
  for (Node* s : statements) {
    s->path = path;
    tag_expression(s->condition, path);
    tag_expression(s->expression, path);
    tag_expression(s->target, path);
    tag_expression(s->value, path);
    tag_expression(s->message, path);
    tag_list(s->items, path);
    for (auto& branch : s->branches) {
      tag_expression(branch.first, path);
      tag_statements(branch.second, path);
    }
    tag_statements(s->body, path);
    tag_statements(s->otherwise, path);
  }
}

NodeList parse_file(const std::string& path, const std::string& source) {
  NodeList statements = parse_program(path, source);
  tag_statements(statements, intern_path(path));
  return statements;
}

// ---------------------------------------------------------------- renaming

using Table = std::unordered_map<std::string, std::string>;
using Names = std::set<std::string>;

// The tables of one file and, inside a function body, the names that are
// local there. Function scopes share the file's tables instead of copying
// them, so linking stays linear in the size of the program.
struct Scope {
  const Table* renames;
  const Table* symbol_aliases;
  const Table* module_aliases;
  const Names* parameters;  // hide the aliases of their spelling as well
  const Names* locals;      // keep their names

  // The name a use of name refers to: a parameter keeps its name, a symbol
  // alias comes before every other local, then the file's top-level names.
  const std::string* rename(const std::string& name) const {
    if (parameters->count(name)) return nullptr;
    auto alias = symbol_aliases->find(name);
    if (alias != symbol_aliases->end()) return &alias->second;
    if (locals->count(name)) return nullptr;
    auto r = renames->find(name);
    return r == renames->end() ? nullptr : &r->second;
  }
  const std::string* module_prefix(const std::string& name) const {
    if (parameters->count(name)) return nullptr;
    auto m = module_aliases->find(name);
    return m == module_aliases->end() ? nullptr : &m->second;
  }
  // A definition or loop variable: local names keep theirs.
  const std::string* definition(const std::string& name) const {
    if (parameters->count(name) || locals->count(name)) return nullptr;
    auto r = renames->find(name);
    return r == renames->end() ? nullptr : &r->second;
  }
};

static void collect_names(const NodeList& statements, Names& names) {
  for (Node* s : statements) {
    switch (s->kind) {
      case S_FUNCTION:
      case S_CLASS: names.insert(s->name); break;
      case S_ASSIGN:
        if (s->target->kind == E_NAME) names.insert(s->target->name);
        break;
      case S_FOR:
        names.insert(s->name);
        collect_names(s->body, names);
        break;
      case S_IF:
        for (auto& b : s->branches) collect_names(b.second, names);
        collect_names(s->otherwise, names);
        break;
      case S_WHILE:
      case S_LOOP:
      case S_SAFE: collect_names(s->body, names); break;
      case S_TRY:
        collect_names(s->body, names);
        collect_names(s->otherwise, names);
        break;
      default: break;
    }
  }
}

static bool is_private_class(const Node* s) {
  if (s->kind != S_CLASS) return false;
  for (Node* member : s->body)
    if (member->kind == S_CTYPE) return member->name == "Private";
  return false;
}

static void rename_expression(Node* e, const Scope& scope);

static void rename_list(NodeList& nodes, const Scope& scope) {
  for (Node* n : nodes) rename_expression(n, scope);
}

static void rename_expression(Node* e, const Scope& scope) {
  if (!e) return;
  switch (e->kind) {
    case E_NAME:
      if (const std::string* to = scope.rename(e->name)) e->name = *to;
      return;
    case E_MEMBER:
      if (e->target->kind == E_NAME) {
        if (const std::string* prefix = scope.module_prefix(e->target->name)) {
          e->kind = E_NAME;
          e->name = *prefix + e->name;
          return;
        }
      }
      rename_expression(e->target, scope);
      return;
    default:
      rename_expression(e->target, scope);
      rename_expression(e->left, scope);
      rename_expression(e->right, scope);
      rename_expression(e->operand, scope);
      rename_expression(e->index, scope);
      rename_expression(e->start, scope);
      rename_expression(e->stop, scope);
      rename_expression(e->step, scope);
      rename_list(e->items, scope);
      for (auto& entry : e->entries) {
        rename_expression(entry.first, scope);
        rename_expression(entry.second, scope);
      }
  }
}

[[noreturn]] static void report_nested_definition(const Node* s) {
  const std::string& path = *s->path;
  std::string kind = s->kind == S_FUNCTION ? "function" : "class";
  report_diagnostic(path, s->line, s->column, (int)kind.size(), get_source_line(read_source_file(path), s->line),
                    "E1299", "nested " + kind + " definition is not supported",
                    "define functions and classes at the top level of a module");
}

static void rename_statements(NodeList& statements, const Scope& scope, bool in_function);

// Parameters and the names a body defines are local: they keep their names
// and hide top-level names of the same spelling.
static void rename_function(Node* f, const Scope& scope) {
  Names parameters(f->strings.begin(), f->strings.end());
  Names locals;
  collect_names(f->body, locals);
  Scope inner = scope;
  inner.parameters = &parameters;
  inner.locals = &locals;
  rename_statements(f->body, inner, true);
}

static void rename_statements(NodeList& statements, const Scope& scope, bool in_function) {
  for (Node* s : statements) {
    switch (s->kind) {
      case S_FUNCTION:
        if (in_function) report_nested_definition(s);
        s->name = scope.renames->at(s->name);
        rename_function(s, scope);
        break;
      case S_CLASS:
        if (in_function) report_nested_definition(s);
        s->name = scope.renames->at(s->name);
        rename_expression(s->condition, scope);
        for (Node* member : s->body) {
          if (member->kind == S_FUNCTION) {
            rename_function(member, scope);
          } else if (member->kind == S_ASSIGN) {
            // A field keeps its name; only its initial value refers to the module.
            if (member->target->kind != E_NAME) rename_expression(member->target, scope);
            rename_expression(member->value, scope);
          }
        }
        break;
      case S_FOR: {
        if (const std::string* to = scope.definition(s->name)) s->name = *to;
        rename_expression(s->expression, scope);
        rename_statements(s->body, scope, in_function);
        break;
      }
      case S_ASSIGN:
        rename_expression(s->target, scope);
        rename_expression(s->value, scope);
        break;
      case S_PRINT: rename_list(s->items, scope); break;
      case S_EXPRESSION:
      case S_RETURN: rename_expression(s->expression, scope); break;
      case S_ERROR: rename_expression(s->message, scope); break;
      case S_DELETE: rename_expression(s->target, scope); break;
      case S_IF:
        for (auto& b : s->branches) {
          rename_expression(b.first, scope);
          rename_statements(b.second, scope, in_function);
        }
        rename_statements(s->otherwise, scope, in_function);
        break;
      case S_WHILE:
        rename_expression(s->condition, scope);
        rename_statements(s->body, scope, in_function);
        break;
      case S_LOOP:
      case S_SAFE: rename_statements(s->body, scope, in_function); break;
      case S_TRY:
        rename_statements(s->body, scope, in_function);
        rename_statements(s->otherwise, scope, in_function);
        break;
      default: break;
    }
  }
}

// ---------------------------------------------------------------- linking

namespace {

struct Linker {
  std::map<std::string, std::string> loaded;  // module -> prefix
  NodeList out;

  // Loads the top-level load statements of one file into its alias tables.
  void load_dependencies(const NodeList& statements, const std::string& importer, Table& symbol_aliases,
                         Table& module_aliases) {
    for (Node* s : statements) {
      if (s->kind != S_LOAD) continue;
      std::string prefix = load_module(s->text, importer);
      if (s->has_symbol)
        symbol_aliases[s->alias] = prefix + s->symbol;
      else
        module_aliases[s->alias] = prefix;
    }
  }

  static NodeList without_loads(const NodeList& statements) {
    NodeList body;
    for (Node* s : statements)
      if (s->kind != S_LOAD) body.push_back(s);
    return body;
  }

  std::string load_module(const std::string& module, const std::string& importer) {
    auto found = loaded.find(module);
    if (found != loaded.end()) return found->second;
    std::string file = resolve_module(module, importer);
    NodeList statements = parse_file(file, read_source_file(file));
    std::string prefix = make_module_prefix(module);
    loaded[module] = prefix;
    append_file(statements, file, prefix);
    return prefix;
  }

  // Appends a file's statements after the modules it loads, its top-level
  // names renamed to prefix + name. The main file, whose prefix is "", keeps
  // its names; a module's private classes take a longer prefix.
  void append_file(const NodeList& statements, const std::string& file, const std::string& prefix) {
    Table renames, symbol_aliases, module_aliases;
    load_dependencies(statements, file, symbol_aliases, module_aliases);
    Names names;
    collect_names(statements, names);
    for (const std::string& n : names) renames[n] = prefix + n;
    if (!prefix.empty())
      for (Node* s : statements)
        if (is_private_class(s)) renames[s->name] = prefix + "__private__" + s->name;
    const Names none;
    Scope scope{&renames, &symbol_aliases, &module_aliases, &none, &none};
    NodeList body = without_loads(statements);
    rename_statements(body, scope, false);
    out.insert(out.end(), body.begin(), body.end());
  }
};

}  // namespace

NodeList link_program(const std::string& path, const std::string& source) {
  Linker linker;
  linker.append_file(parse_file(path, source), path, "");
  return linker.out;
}

}  // namespace kep
