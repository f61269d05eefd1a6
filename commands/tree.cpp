// Tree models for tree views: orx:tree, the tree command with its
// subcommands, and the process-wide registry that keeps tree names unique.
// Every walk is iterative, so deep trees cannot exhaust the stack.
#include "orx_tree.h"

#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/internal.h"

namespace {

enum SibOrder { kAlpha = 1, kInsertion = 2, kReverse = 3 };

struct TreeNode {
    TreeNode *parent = nullptr;
    TreeNode *next = nullptr;
    TreeNode *prev = nullptr;
    TreeNode *firstChild = nullptr;
    TreeNode *lastChild = nullptr;
    std::string name;
    std::string value;
    bool hasValue = false;
    int open = 0;
    int visible = 1;
    // Children by name, so look-up and alphabetical placement do not scan
    // the sibling list; the keys view the children's own names.
    std::map<std::string_view, TreeNode *> byName;
    // Whether the child list is in ascending order (only a change of siborder
    // can break it); alphabetical placement then takes the index's answer.
    bool childrenSorted = true;
};

struct TreeRecord {
    std::string name;
    TreeNode root;
    int indentation = 6;
    int setvisonopen = 1;
    int siborder = kAlpha;
    long size = 0;
};

// Process-wide, as tree names are unique across interpreters.  Never freed,
// so the records it points to stay reachable for leak checkers at exit.
std::mutex registryLock;
// Built on first use and never destroyed: no static destructor runs at exit.
std::unordered_map<std::string, TreeRecord *> &Registry()
{
    static auto *registry = new std::unordered_map<std::string, TreeRecord *>;
    return *registry;
}

// ---- Nodes -----------------------------------------------------------------

// before null appends at the end.
void LinkBefore(TreeNode *parent, TreeNode *node, TreeNode *before)
{
    node->parent = parent;
    node->next = before;
    node->prev = before != nullptr ? before->prev : parent->lastChild;
    (node->prev != nullptr ? node->prev->next : parent->firstChild) = node;
    (before != nullptr ? before->prev : parent->lastChild) = node;
}

// Takes the node out of its parent's list and name index; it is not freed.
void Unlink(TreeNode *node)
{
    TreeNode *parent = node->parent;
    (node->prev != nullptr ? node->prev->next : parent->firstChild) = node->next;
    (node->next != nullptr ? node->next->prev : parent->lastChild) = node->prev;
    parent->byName.erase(node->name);
    node->next = node->prev = nullptr;
}

// Frees top (already unlinked) and its descendants; returns how many went.
long FreeSubtree(TreeNode *top)
{
    long count = 0;
    TreeNode *node = top;
    for (;;) {
        while (node->firstChild != nullptr) {
            node = node->firstChild;
        }
        if (node == top) {
            delete node;
            return count + 1;
        }
        TreeNode *parent = node->parent;
        parent->firstChild = node->next;
        delete node;
        ++count;
        node = parent;
    }
}

// Leaves parent childless; the name index is cleared with the list.
void FreeChildren(TreeNode *parent)
{
    while (parent->firstChild != nullptr) {
        TreeNode *child = parent->firstChild;
        parent->firstChild = child->next;
        FreeSubtree(child);
    }
    parent->lastChild = nullptr;
    parent->byName.clear();
}

// Where a new child goes by the alphabetical rule, walking the list: for
// children whose order a change of siborder has mixed.
TreeNode *AlphaPlaceByWalk(TreeNode *parent, const std::string &name)
{
    TreeNode *first = parent->firstChild;
    if (first == nullptr || name < first->name) {
        return first;
    }
    for (TreeNode *sib = first->next; sib != nullptr; sib = sib->next) {
        if (sib->name > name) {
            return sib;
        }
    }
    return nullptr;
}

// Places the new child as siborder requires; alpha order goes by the name index.
TreeNode *CreateChild(TreeRecord *tree, TreeNode *parent, std::string_view name)
{
    auto node = std::make_unique<TreeNode>();
    node->name.assign(name.data(), name.size());
    TreeNode *before = nullptr;
    switch (tree->siborder) {
    case kInsertion:
        if (parent->lastChild != nullptr && !(parent->lastChild->name < node->name)) {
            parent->childrenSorted = false;
        }
        break;
    case kReverse:
        before = parent->firstChild;
        if (before != nullptr && !(node->name < before->name)) {
            parent->childrenSorted = false;
        }
        break;
    default:
        if (parent->childrenSorted) {
            auto it = parent->byName.upper_bound(node->name);
            before = it == parent->byName.end() ? nullptr : it->second;
        } else {
            before = AlphaPlaceByWalk(parent, node->name);
        }
        break;
    }
    TreeNode *raw = node.get();
    parent->byName.emplace(std::string_view(raw->name), raw);
    node.release();
    LinkBefore(parent, raw, before);
    ++tree->size;
    return raw;
}

// The node a path names (missing or empty: the root), creating missing nodes
// when asked; null when it names none or is no list.
TreeNode *FindNode(TreeRecord *tree, const char *path, bool create)
{
    if (path == nullptr || *path == '\0') {
        return &tree->root;
    }
    orx::ListElements elems;
    if (!elems.Split(path)) {
        return nullptr;
    }
    TreeNode *node = &tree->root;
    for (int i = 0; i < elems.count(); ++i) {
        auto it = node->byName.find(elems[i]);
        if (it != node->byName.end()) {
            node = it->second;
        } else if (create) {
            node = CreateChild(tree, node, elems[i]);
        } else {
            return nullptr;
        }
    }
    return node;
}

// ---- Text building -----------------------------------------------------------

// The path of a node as a list of names below the root; "" for the root.
std::string PathOf(const TreeNode *node)
{
    std::vector<const TreeNode *> chain;
    for (; node != nullptr && node->parent != nullptr; node = node->parent) {
        chain.push_back(node);
    }
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        orx::AppendListElement(path, (*it)->name);
    }
    return path;
}

// Paths of the nodes of a pre-order walk, each built from its parent's.
class PathBuilder {
public:
    explicit PathBuilder(const TreeNode *start) : text_(PathOf(start->parent))
    {
        lengths_.push_back(text_.size());
    }
    const std::string &Enter(const TreeNode *node, int depth)
    {
        text_.resize(lengths_[static_cast<size_t>(depth)]);
        if (node->parent != nullptr) {
            orx::AppendListElement(text_, node->name);
        }
        lengths_.resize(static_cast<size_t>(depth) + 2);
        lengths_[static_cast<size_t>(depth) + 1] = text_.size();
        return text_;
    }

private:
    std::string text_;
    std::vector<size_t> lengths_;
};

enum class Step { Skip, Descend, Stop };

// Pre-order from first over it and its later siblings: enter(node, depth)
// says whether to descend; leave(node) runs once its subtree is done.
template <typename Enter, typename Leave>
void Walk(TreeNode *first, Enter enter, Leave leave)
{
    TreeNode *node = first;
    int depth = 0;
    while (node != nullptr) {
        Step step = enter(node, depth);
        if (step == Step::Stop) {
            return;
        }
        if (step == Step::Descend && node->firstChild != nullptr) {
            node = node->firstChild;
            ++depth;
            continue;
        }
        for (;;) {
            leave(node);
            if (node->next != nullptr) {
                node = node->next;
                break;
            }
            if (depth == 0) {
                node = nullptr;
                break;
            }
            node = node->parent;
            --depth;
        }
    }
}

// The walk for callers with nothing to do on leaving a subtree.
template <typename Enter>
void Walk(TreeNode *first, Enter enter)
{
    Walk(first, enter, [](TreeNode *) {});
}

// The open list: visible nodes, entering open ones.
template <typename Visit>
void WalkOpen(TreeRecord *tree, Visit visit)
{
    Walk(tree->root.firstChild, [&](TreeNode *node, int depth) {
        if (!node->visible) {
            return Step::Skip;
        }
        if (!visit(node, depth)) {
            return Step::Stop;
        }
        return node->open ? Step::Descend : Step::Skip;
    });
}

// Indentation times depth, a negative indentation counting as 0.
size_t FieldWidth(const TreeRecord *tree, int depth)
{
    return tree->indentation > 0 ? static_cast<size_t>(tree->indentation) * depth : 0;
}

// ---- Subcommands ---------------------------------------------------------------

enum Sub {
    kConfigure, kChvisifempty, kClose, kChildren, kInsert, kIsopen, kIsvisible, kDelete,
    kDestroy, kDirlist, kList, kListopen, kListsetvisible, kShow, kSetvisible, kSize,
    kVisfilter, kOlistopen, kOpen, kHaschildren, kAtindex, kAtopenindex, kUnknown
};

// In matching order: the first candidate of the word's first character of
// which the word is a leading part wins.
const struct {
    const char *name;
    Sub sub;
} kSubcommands[] = {
    {"configure", kConfigure},   {"chvisifempty", kChvisifempty},
    {"close", kClose},           {"children", kChildren},
    {"insert", kInsert},         {"isopen", kIsopen},
    {"isvisible", kIsvisible},   {"delete", kDelete},
    {"destroy", kDestroy},       {"dirlist", kDirlist},
    {"list", kList},             {"listopen", kListopen},
    {"listsetvisible", kListsetvisible}, {"show", kShow},
    {"setvisible", kSetvisible}, {"size", kSize},
    {"visfilter", kVisfilter},   {"olistopen", kOlistopen},
    {"open", kOpen},             {"haschildren", kHaschildren},
    {"atindex", kAtindex},       {"atopenindex", kAtopenindex},
};

// Subcommands and options may be given by any leading part of their name.
bool IsLeadingPart(const char *word, const char *name)
{
    size_t length = std::strlen(word);
    return length > 0 && length <= std::strlen(name) && std::strncmp(word, name, length) == 0;
}

// kUnknown when no subcommand starts with the word.
Sub MatchSubcommand(const char *word)
{
    for (const auto &candidate : kSubcommands) {
        if (candidate.name[0] == word[0] && IsLeadingPart(word, candidate.name)) {
            return candidate.sub;
        }
    }
    return kUnknown;
}

// Tree subcommands report their errors in a TCL_OK result.
int NoSuchNode(Tcl_Interp *interp, const char *path)
{
    orx::AppendResult(interp, "no such node:", path);
    return TCL_OK;
}

int NoSuchNodeQuoted(Tcl_Interp *interp, const char *path)
{
    orx::AppendResult(interp, "no such node \"", path, "\"");
    return TCL_OK;
}

const char *const kSibOrderNames[] = {"alpha", "insertion", "reverse"};

// tree configure: unknown words are skipped, an option last reports its value,
// and a bad value stops at its message.
int Configure(Tcl_Interp *interp, TreeRecord *tree, int n, const char **words)
{
    for (int i = 0; i < n; ++i) {
        const char *word = words[i];
        enum { kNone, kIndent, kOrder, kVisOnOpen } option = kNone;
        if (word[0] == 'i' && IsLeadingPart(word, "indentation")) {
            option = kIndent;
        } else if (word[0] == 's' && IsLeadingPart(word, "siborder")) {
            option = kOrder;
        } else if (word[0] == 's' && IsLeadingPart(word, "setvisonopen")) {
            option = kVisOnOpen;
        }
        if (option == kNone) {
            continue;
        }
        if (i == n - 1) {
            if (option == kIndent) {
                orx::AppendResult(interp, std::to_string(tree->indentation));
            } else if (option == kVisOnOpen) {
                orx::AppendResult(interp, std::to_string(tree->setvisonopen));
            } else {
                int order = tree->siborder;
                orx::AppendResult(interp,
                                  order >= kAlpha && order <= kReverse ? kSibOrderNames[order - 1]
                                                                       : "unknown");
            }
            break;
        }
        const char *value = words[++i];
        if (option == kIndent) {
            int indentation;
            if (orx::GetInt(interp, value, &indentation) != TCL_OK) {
                break;
            }
            tree->indentation = indentation;
        } else if (option == kVisOnOpen) {
            int flag;
            if (Tcl_GetBoolean(interp, value, &flag) != TCL_OK) {
                break;
            }
            tree->setvisonopen = flag;
        } else {
            int order = 0;
            for (int k = 0; k < 3; ++k) {
                if (std::strcmp(value, kSibOrderNames[k]) == 0) {
                    order = k + 1;
                }
            }
            if (order == 0) {
                orx::AppendResult(interp, "invalid siborder: ", value);
                break;
            }
            tree->siborder = order;
        }
    }
    return TCL_OK;
}

// list and show: from the named node (or the top level) over its subtree
// and its later siblings.
int ListOrShow(Tcl_Interp *interp, TreeRecord *tree, int n, const char **words, bool show)
{
    if (n > 1) {
        orx::AppendResult(interp, "too many arguments");
        return TCL_OK;
    }
    TreeNode *start = tree->root.firstChild;
    if (n == 1 && words[0][0] != '\0') {
        start = FindNode(tree, words[0], false);
        if (start == nullptr) {
            return NoSuchNode(interp, words[0]);
        }
    }
    if (start == nullptr) {
        return TCL_OK;
    }
    std::string line;
    orx::ResultText out;
    PathBuilder paths(start);
    Walk(start, [&](TreeNode *node, int depth) {
        if (show) {
            size_t width = FieldWidth(tree, depth);
            orx::CheckResultRoom(out.size(), width + node->name.size());
            line.assign(width, ' ').append(node->name).push_back('\n');
            out.Append(line);
        } else {
            out.AppendElement(paths.Enter(node, depth));
        }
        return Step::Descend;
    });
    out.SetResult(interp);
    return TCL_OK;
}

// One "/a/b" line per node, in pre-order.
int Dirlist(Tcl_Interp *interp, TreeRecord *tree)
{
    orx::ResultText out;
    std::string prefix;
    std::vector<size_t> lengths{0};
    Walk(tree->root.firstChild, [&](TreeNode *node, int depth) {
        prefix.resize(lengths[static_cast<size_t>(depth)]);
        prefix.append("/").append(node->name);
        lengths.resize(static_cast<size_t>(depth) + 2);
        lengths[static_cast<size_t>(depth) + 1] = prefix.size();
        out.Append(prefix);
        out.Append("\n");
        return Step::Descend;
    });
    out.SetResult(interp);
    return TCL_OK;
}

// Paths of the visible nodes below open ones, in display order.
int Listopen(Tcl_Interp *interp, TreeRecord *tree)
{
    orx::ResultText out;
    if (tree->root.firstChild != nullptr) {
        PathBuilder paths(tree->root.firstChild);
        WalkOpen(tree, [&](TreeNode *node, int depth) {
            out.AppendElement(paths.Enter(node, depth));
            return true;
        });
    }
    out.SetResult(interp);
    return TCL_OK;
}

// The open list as display rows: an open/closed marker indented by depth, then the name.
int Olistopen(Tcl_Interp *interp, TreeRecord *tree)
{
    orx::ResultText out;
    std::string row;
    size_t total = 0; // refused before a row of gigabytes is built, not after
    WalkOpen(tree, [&](TreeNode *node, int depth) {
        // "%*s %s": the marker right-aligned in the field, a blank, the name.
        size_t width = FieldWidth(tree, depth);
        total += width + node->name.size() + 4;
        orx::CheckResultRoom(0, total);
        const char *marker = node->firstChild == nullptr ? " " : node->open ? "-" : "+";
        row.assign(width > 1 ? width - 1 : 0, ' ').append(marker).append(" ").append(node->name);
        out.AppendElement(row);
        return true;
    });
    out.SetResult(interp);
    return TCL_OK;
}

// Paths of visible nodes whose ancestors are all visible.
int Listsetvisible(Tcl_Interp *interp, TreeRecord *tree)
{
    orx::ResultText out;
    if (tree->root.firstChild != nullptr) {
        PathBuilder paths(tree->root.firstChild);
        Walk(tree->root.firstChild, [&](TreeNode *node, int depth) {
            if (!node->visible) {
                return Step::Skip;
            }
            out.AppendElement(paths.Enter(node, depth));
            return Step::Descend;
        });
    }
    out.SetResult(interp);
    return TCL_OK;
}

// Hides every visible node whose children are all hidden, bottom up.
void Chvisifempty(TreeRecord *tree)
{
    Walk(
        tree->root.firstChild,
        [](TreeNode *node, int) { return node->visible ? Step::Descend : Step::Skip; },
        [](TreeNode *node) {
            if (!node->visible || node->firstChild == nullptr) {
                return;
            }
            for (TreeNode *child = node->firstChild; child != nullptr; child = child->next) {
                if (child->visible) {
                    return;
                }
            }
            node->visible = 0;
        });
}

// Make every ancestor of node visible.  Within one visfilter run a settled
// node that is visible has visible ancestors, so the climb stops at the
// first visible one; the root is never settled and is set apart.
void ShowAncestors(TreeRecord *tree, TreeNode *node)
{
    for (TreeNode *up = node->parent; up != nullptr && up != &tree->root; up = up->parent) {
        if (up->visible) {
            break;
        }
        up->visible = 1;
    }
    tree->root.visible = 1;
}

// tree visfilter patterns mode flags: visibility set by matching node names.
int Visfilter(Tcl_Interp *interp, TreeRecord *tree, int n, const char **words)
{
    if (n != 3) {
        orx::AppendResult(interp, "list filters mode flags required:");
        return TCL_OK;
    }
    orx::ListElements patterns;
    if (!patterns.Split(words[0])) {
        return TCL_OK;
    }
    int flagA;
    int flagB;
    if (Tcl_GetBoolean(interp, words[1], &flagA) != TCL_OK ||
        Tcl_GetBoolean(interp, words[2], &flagB) != TCL_OK) {
        return TCL_OK;
    }
    bool havePatterns = patterns.count() > 0;
    auto matches = [&](const TreeNode *node) {
        for (int i = 0; i < patterns.count(); ++i) {
            if (Tcl_StringMatch(node->name.c_str(), patterns[i])) {
                return true;
            }
        }
        return false;
    };
    // Per depth of the walk: whether the node there or one of its ancestors
    // below the root matches, and whether one of them is hidden.  Ancestors
    // are settled before their children, so the ancestor test reads these
    // instead of climbing.
    std::vector<char> matchedAbove{0};
    std::vector<char> hiddenAbove{static_cast<char>(!tree->root.visible)};
    auto ancestorTest = [&](TreeNode *node, int depth) {
        size_t d = static_cast<size_t>(depth);
        if (havePatterns) {
            // Settled ancestors that are visible have visible ancestors: the
            // answer hangs on the parent and on a match above it.
            bool parentShown = node->parent != &tree->root && node->parent->visible;
            node->visible = parentShown && matchedAbove[d] ? 1 : 0;
        } else if (hiddenAbove[d]) {
            node->visible = 0;
        }
    };
    auto ownNameTest = [&](TreeNode *node, bool match) {
        if (!havePatterns) {
            return;
        }
        node->visible = match ? 1 : 0;
        if (match) {
            ShowAncestors(tree, node);
        }
    };
    Walk(tree->root.firstChild, [&](TreeNode *node, int depth) {
        size_t d = static_cast<size_t>(depth);
        bool match = havePatterns && matches(node);
        bool hasChildren = node->firstChild != nullptr;
        if (flagA == flagB) {
            ownNameTest(node, match);
        } else if (!flagA) {
            if (hasChildren) {
                node->visible = 0;
            } else {
                ownNameTest(node, match);
            }
        } else if (hasChildren) {
            ownNameTest(node, match);
            if (!node->visible) {
                ancestorTest(node, depth);
            }
        } else {
            ancestorTest(node, depth);
        }
        matchedAbove.resize(d + 2);
        hiddenAbove.resize(d + 2);
        matchedAbove[d + 1] = matchedAbove[d] || match;
        hiddenAbove[d + 1] = hiddenAbove[d] || !node->visible;
        return Step::Descend;
    });
    return TCL_OK;
}

// Look up every path of a path list before anything changes; false (with
// the message set) when one names no node or the list is malformed.
bool FindAll(Tcl_Interp *interp, TreeRecord *tree, const char *pathList,
             std::vector<TreeNode *> *nodes)
{
    orx::ListElements paths;
    if (!paths.Split(pathList)) {
        NoSuchNode(interp, pathList);
        return false;
    }
    for (int i = 0; i < paths.count(); ++i) {
        TreeNode *node = FindNode(tree, paths[i], false);
        if (node == nullptr) {
            NoSuchNode(interp, paths[i]);
            return false;
        }
        nodes->push_back(node);
    }
    return true;
}

// The node and its ancestors become open and visible; its children close.
void OpenNode(TreeRecord *tree, TreeNode *node)
{
    for (TreeNode *up = node; up != nullptr; up = up->parent) {
        up->visible = 1;
        up->open = 1;
    }
    for (TreeNode *child = node->firstChild; child != nullptr; child = child->next) {
        child->open = 0;
        if (tree->setvisonopen) {
            child->visible = 1;
        }
    }
}

// Checks every path before changing any node.
int Setvisible(Tcl_Interp *interp, TreeRecord *tree, int n, const char **words)
{
    if (n != 2) {
        orx::AppendResult(interp, "list of node paths and flag required:");
        return TCL_OK;
    }
    int flag;
    if (Tcl_GetBoolean(interp, words[1], &flag) != TCL_OK) {
        return TCL_OK;
    }
    std::vector<TreeNode *> nodes;
    if (!FindAll(interp, tree, words[0], &nodes)) {
        return TCL_OK;
    }
    for (TreeNode *node : nodes) {
        node->visible = flag;
        if (!flag) {
            node->open = 0;
            continue;
        }
        for (TreeNode *up = node->parent; up != nullptr; up = up->parent) {
            up->visible = 1;
        }
    }
    return TCL_OK;
}

// With a flag, sets the node's visibility before answering.
int Isvisible(Tcl_Interp *interp, TreeRecord *tree, int n, const char **words)
{
    if (n == 0) {
        orx::AppendResult(interp, "node path required:");
        return TCL_OK;
    }
    TreeNode *node = FindNode(tree, words[0], false);
    if (node == nullptr) {
        return NoSuchNode(interp, words[0]);
    }
    if (n == 2) {
        int flag;
        if (Tcl_GetBoolean(interp, words[1], &flag) != TCL_OK) {
            return TCL_OK;
        }
        node->visible = flag;
    }
    bool shown = node == &tree->root || node->visible;
    for (TreeNode *up = node->parent; shown && up != nullptr; up = up->parent) {
        shown = up->open && (up == &tree->root || up->visible);
    }
    orx::AppendResult(interp, shown ? "1" : "0");
    return TCL_OK;
}

// Names of the node's children, or their paths with -fullpath.
int Children(Tcl_Interp *interp, TreeRecord *tree, int n, const char **words)
{
    bool fullPath = false;
    if (n == 2) {
        if (std::strcmp(words[0], "-fullpath") != 0) {
            orx::AppendResult(interp, "invalid argument \"", words[0], "\"");
            return TCL_OK;
        }
        fullPath = true;
    }
    const char *path = words[n - 1];
    TreeNode *node = FindNode(tree, path, false);
    if (node == nullptr) {
        return NoSuchNodeQuoted(interp, path);
    }
    std::string prefix = fullPath ? PathOf(node) : std::string();
    orx::ResultText out;
    std::string childPath;
    for (TreeNode *child = node->firstChild; child != nullptr; child = child->next) {
        if (fullPath) {
            childPath = prefix;
            orx::AppendListElement(childPath, child->name);
            out.AppendElement(childPath);
        } else {
            out.AppendElement(child->name);
        }
    }
    out.SetResult(interp);
    return TCL_OK;
}

// Path of the index-th node (from 0) that visit counts.
template <typename Walker>
int AtIndex(Tcl_Interp *interp, const char *indexWord, Walker walker)
{
    // Any integer: one beyond int (or beyond 64 bits) names no node, where
    // Tcl_GetInt would take 4294967297 as row 1.
    Tcl_WideInt index;
    int beyond;
    ObjRef indexObj(Tcl_NewStringObj(indexWord, -1));
    if (orx::GetWideInt(interp, indexObj.get(), &index, &beyond) != TCL_OK) {
        return TCL_OK;
    }
    TreeNode *found = nullptr;
    if (index >= 0 && beyond == 0) {
        Tcl_WideInt row = 0;
        walker([&](TreeNode *node) {
            if (row++ == index) {
                found = node;
                return false;
            }
            return true;
        });
    }
    if (found == nullptr) {
        orx::AppendResult(interp, "no node at index: ", indexWord);
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, orx::NewStringObj(PathOf(found)));
    return TCL_OK;
}

// Dispatches a subcommand of a tree's command.
int Dispatch(TreeRecord *tree, Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2) {
        return orx::UsageCode(interp);
    }
    Sub sub = MatchSubcommand(argv[1]);
    if (sub == kUnknown) {
        orx::SetError(interp, "unknown command \"", argv[1]);
        return orx::ValueCode(interp, "OPTION", argv[1]);
    }
    int n = argc - 2;
    const char **words = argv + 2;
    bool oneWord = sub == kOpen || sub == kClose || sub == kIsopen || sub == kAtindex ||
                   sub == kAtopenindex;
    if ((oneWord && n != 1) || (sub == kChildren && n != 1 && n != 2)) {
        orx::SetError(interp, "wrong number of arguments: ", argv[0], argv[1]);
        return orx::UsageCode(interp);
    }
    switch (sub) {
    case kConfigure:
        return Configure(interp, tree, n, words);
    case kInsert:
        if (n <= 2) {
            TreeNode *node = FindNode(tree, n > 0 ? words[0] : nullptr, true);
            if (node != nullptr && n == 2) {
                node->value = words[1];
                node->hasValue = true;
            }
        }
        return TCL_OK;
    case kDelete:
        if (n <= 2) {
            TreeNode *node = FindNode(tree, n > 0 ? words[0] : nullptr, false);
            if (node != nullptr && node != &tree->root) {
                Unlink(node);
                tree->size -= FreeSubtree(node);
            }
        }
        return TCL_OK;
    case kDestroy:
        // The deletion callback frees the tree.
        Tcl_DeleteCommand(interp, argv[0]);
        return TCL_OK;
    case kList:
    case kShow:
        return ListOrShow(interp, tree, n, words, sub == kShow);
    case kDirlist:
        return Dirlist(interp, tree);
    case kListopen:
        return Listopen(interp, tree);
    case kOlistopen:
        return Olistopen(interp, tree);
    case kListsetvisible:
        return Listsetvisible(interp, tree);
    case kChvisifempty:
        Chvisifempty(tree);
        return TCL_OK;
    case kVisfilter:
        return Visfilter(interp, tree, n, words);
    case kOpen:
    case kClose: {
        std::vector<TreeNode *> nodes;
        if (FindAll(interp, tree, words[0], &nodes)) {
            for (TreeNode *node : nodes) {
                if (sub == kOpen) {
                    OpenNode(tree, node);
                } else {
                    node->open = 0;
                }
            }
        }
        return TCL_OK;
    }
    case kSetvisible:
        return Setvisible(interp, tree, n, words);
    case kIsvisible:
        return Isvisible(interp, tree, n, words);
    case kIsopen: {
        TreeNode *node = FindNode(tree, words[0], false);
        if (node == nullptr) {
            return NoSuchNode(interp, words[0]);
        }
        orx::AppendResult(interp, node->open ? "1" : "0");
        return TCL_OK;
    }
    case kChildren:
        return Children(interp, tree, n, words);
    case kHaschildren: {
        TreeNode *node = FindNode(tree, n > 0 ? words[0] : nullptr, false);
        if (node == nullptr) {
            return NoSuchNodeQuoted(interp, words[0]);
        }
        orx::AppendResult(interp, node->firstChild != nullptr ? "1" : "0");
        return TCL_OK;
    }
    case kSize:
        Tcl_SetObjResult(interp, Tcl_NewLongObj(tree->size));
        return TCL_OK;
    case kAtindex:
        return AtIndex(interp, words[0], [&](auto count) {
            Walk(tree->root.firstChild, [&](TreeNode *node, int) {
                return node->visible && !count(node) ? Step::Stop : Step::Descend;
            });
        });
    case kAtopenindex:
        return AtIndex(interp, words[0], [&](auto count) {
            WalkOpen(tree, [&](TreeNode *node, int) { return count(node); });
        });
    case kUnknown:
        break;
    }
    return TCL_OK;
}

// The command of one tree; its client data is the tree's record.
int TreeCommand(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    auto *tree = static_cast<TreeRecord *>(clientData);
    return orx::Guard(interp, [&] { return Dispatch(tree, interp, argc, argv); });
}

// Command delete procedure: the tree leaves the registry unless another took its name.
void DeleteTree(ClientData clientData)
{
    auto *tree = static_cast<TreeRecord *>(clientData);
    {
        std::lock_guard<std::mutex> hold(registryLock);
        auto it = Registry().find(tree->name);
        if (it != Registry().end() && it->second == tree) {
            Registry().erase(it);
        }
    }
    FreeChildren(&tree->root);
    delete tree;
}

// orx:tree name ?list?: a tree and its command, refused when the name is taken.
int CreateTree(Tcl_Interp *interp, int argc, const char *argv[])
{
    if (argc < 2) {
        orx::SetError(interp, "wrong # args: should be \"", argv[0], " name ?list?");
        return orx::UsageCode(interp);
    }
    const char *name = argv[1];
    Tcl_CmdInfo info;
    if (Tcl_GetCommandInfo(interp, name, &info)) {
        orx::SetError(interp, "can't create command \"", name, "\": command already exists");
        return orx::ValueCode(interp, "NAME", name);
    }
    auto tree = std::make_unique<TreeRecord>();
    tree->name = name;
    tree->root.open = 1;
    {
        std::lock_guard<std::mutex> hold(registryLock);
        if (!Registry().emplace(tree->name, tree.get()).second) {
            orx::SetError(interp, "name \"", name, " already in use.");
            return orx::ValueCode(interp, "NAME", name);
        }
    }
    Tcl_CreateCommand(interp, name, TreeCommand, tree.release(), DeleteTree);
    return TCL_OK;
}

} // namespace

int Orx_TreeCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[])
{
    return orx::Guard(interp, [&] { return CreateTree(interp, argc, argv); });
}
