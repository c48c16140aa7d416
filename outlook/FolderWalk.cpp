#include "outlook/FolderWalk.h"

#include "platform/Outlook.h"

#include <vector>

namespace {

// One collection being walked, with the child currently held.
struct WalkLevel {
    DispatchRef collection;
    long count = 0;
    long next = 1;
    DispatchRef child; // declared last: released before its collection
};

// The walk keeps its levels here rather than on the call stack, so that folder trees of any
// depth are walked. Levels are released innermost first, on every path.
class WalkStack {
  public:
    WalkStack() = default;
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;
    ~WalkStack() {
        while (!levels.empty())
            levels.pop_back();
    }

    // Takes over the collection and reads its Count once.
    void Push(DispatchRef collection) {
        if (collection.IsNull())
            RaiseComError(E_POINTER);
        levels.emplace_back();
        levels.back().collection = std::move(collection);
        levels.back().count = GetLongProperty(levels.back().collection, OutlookDispId::Count);
    }
    void Pop() { levels.pop_back(); }
    bool Empty() const { return levels.empty(); }
    WalkLevel& Top() { return levels.back(); }

  private:
    std::vector<WalkLevel> levels;
};

DispatchRef FetchChild(const DispatchRef& collection, long index) {
    Variant position;
    position.value.vt = VT_I4;
    position.value.lVal = index;
    DispatchRef child = CallObjectMethod(collection, OutlookDispId::Item, &position.value, 1);
    position.Clear();
    return child;
}

// A folder counts as accessible when its DefaultItemType can be read.
bool IsAccessible(const DispatchRef& folder) {
    try {
        if (folder.IsNull())
            RaiseComError(E_POINTER);
        GetLongProperty(folder, OutlookDispId::DefaultItemType);
        return true;
    } catch (const _com_error&) {
        return false;
    }
}

} // namespace

bool FolderWalk(DispatchRef collection, FolderVisitor visitor, void* context) {
    WalkStack stack;
    stack.Push(std::move(collection));
    while (!stack.Empty()) {
        WalkLevel& level = stack.Top();
        if (level.next > level.count) {
            // This collection is done: release it, then the parent's child that owned it.
            stack.Pop();
            if (!stack.Empty())
                stack.Top().child.Release();
            continue;
        }
        long index = level.next++;
        level.child = FetchChild(level.collection, index);
        if (!IsAccessible(level.child)) {
            level.child.Release();
            continue;
        }
        if (!visitor(level.child.NewReference(), context))
            return true;
        DispatchRef subfolders = GetObjectProperty(level.child, OutlookDispId::Folders);
        stack.Push(std::move(subfolders)); // level may dangle from here on
    }
    return false;
}
