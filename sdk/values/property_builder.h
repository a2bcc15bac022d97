// sdk/values/property_builder.h - PropertyBuilder, which builds a property
// tree from a stream of document events (the readers' common back end, and
// the way for a plug-in's own reader to build a tree).
//
// A document arrives in order: a container opens, its members or elements
// come one by one, it closes. Building each member into its structure as it
// comes means searching and growing the structure's name-ordered index once
// per member, and growing an array by doubling. The builder instead keeps
// the values of every open container on one stack of its own and makes each
// container once, when it closes: an array's elements in one block of
// exactly their number, a structure's members ordered by name in one sort.
//
// The tree it leaves is exactly the one the property API would have built
// from the same events (BindingProperty::Member for each key, Append for
// each element): a repeated name addresses the same value again - a later
// scalar replaces it, a later null leaves it, a later array appends to an
// earlier array and a later object adds to an earlier object.
//
// Use: Key before each member's value; a value call (Null ... String) or
// BeginArray/BeginStructure per value; End closes the innermost container.
// Finish closes whatever is still open (a reader that stops early keeps
// what it read). Every call throws only std::bad_alloc, after which the
// builder may only be destroyed: the values it holds are released then.
//
// The root must stay as it is while the builder lives: a builder holds
// values and names in the root's arena until they go into the tree, and
// gives back what it still holds when it is destroyed.
//
// Threads: one builder, like its tree, belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>

#include "sdk/values/property.h"
#include "sdk/values/work_stack.h"

namespace Korvo {

class PropertyBuilder {
public:
    // Builds into root, which may be any property (its arena is made when
    // first needed). Containers found at the place of a value are kept or
    // replaced as the property API would.
    explicit PropertyBuilder(BindingProperty& root);
    ~PropertyBuilder();
    PropertyBuilder(const PropertyBuilder&) = delete;
    PropertyBuilder& operator=(const PropertyBuilder&) = delete;

    // ---- values, each at the place of the next value
    void Null();
    void Bool(bool value) { Place().SetBool(value); }
    void Signed(int64_t value) { Place().SetSigned(value); }
    void Unsigned(uint64_t value) { Place().SetUnsigned(value); }
    void Float(double value) { Place().SetFloat(value); }
    void String(std::string_view text) { Place().SetString(text); }
    void Blob(std::span<const uint8_t> bytes) { Place().SetBlob(bytes); }
    // The property at the place of the next value, for a value the caller
    // sets itself (a scalar of its own reading, or a copy of another
    // property). It must not become a container that the builder is told
    // to fill, and is valid until the next call to the builder.
    BindingProperty& Value() { return Place(); }

    // ---- containers
    // Each returns how many children the container holds already: 0 for a
    // new one, more when a repeated name's array or object is continued.
    size_t BeginCollection() { return Open(true); }
    size_t BeginStructure() { return Open(false); }
    // The name of the next value in the innermost open structure; ignored
    // when no structure is the innermost open container.
    void Key(std::string_view name);
    // Closes the innermost open container; nothing when none is open.
    void End();
    // Closes every open container.
    void Finish();

    // Containers open now.
    [[nodiscard]] size_t Depth() const noexcept { return open_.size(); }

    // Makes every open container a real one in the tree now, so that the
    // tree can be read while the document is still arriving (a reader that
    // resolves references into what it has built calls this once, before
    // its first reference); from then on the builder writes into the tree
    // directly, as the property API does.
    void BuildInPlace();
    [[nodiscard]] bool BuildsInPlace() const noexcept { return inPlace_; }
    // The open container at level (0 the outermost), once the builder
    // builds in place.
    [[nodiscard]] const BindingProperty* Container(size_t level) noexcept { return &Resolve(open_[level].at); }

private:
    static constexpr uint32_t kNoSlot = UINT32_MAX;

    // Where a value or container lives: in the tree (pointer), or at an
    // index of the value stack, which moves when the stack grows.
    struct Spot {
        BindingProperty* pointer;
        uint32_t slot;
    };

    struct Frame {
        Spot at;
        uint32_t firstValue;  // the first child on the value stack
        uint32_t firstName;   // the first child name, for a structure
        bool isCollection;
        bool direct;          // children go into the container itself
        // One bit per member name's hash: a name whose bit is clear is not
        // a repeated one, which spares most names the search.
        uint64_t seen[2];
    };

    // The order a structure's members took the last time a structure with
    // the same names in the same order closed: objects in arrays mostly
    // repeat their names, and then need no sort. Holds a reference to each
    // name, so an entry cannot be freed and reused for another text.
    static constexpr size_t kShapeSlots = 16;
    static constexpr size_t kShapeMembers = 64;
    struct Shape {
        uint32_t count = 0;
        uint32_t used = 0;  // shapeClock_ when last made or matched
        detail::InternedString* names[kShapeMembers];
        uint8_t order[kShapeMembers];
    };

    BindingProperty& Resolve(Spot spot) noexcept {
        return spot.pointer != nullptr ? *spot.pointer : values_[spot.slot];
    }
    // The next value's place. Inline for the two common cases - an element
    // of an array being collected, a member a Key chose - with the rest in
    // NextPlace.
    BindingProperty& Place() { return Resolve(NextSpot()); }
    Spot NextSpot() {
        if (!open_.empty()) {
            const Frame& top = open_.back();
            if (!top.isCollection) {
                if (keyed_.slot != kNoSlot) {
                    const uint32_t slot = keyed_.slot;
                    keyed_.slot = kNoSlot;
                    return {nullptr, slot};
                }
            } else if (!top.direct && valueCount_ != valueCapacity_) {
                new (&values_[valueCount_]) BindingProperty(detail::ChildTag{}, arena_);
                return {nullptr, valueCount_++};
            }
        }
        return NextPlace();
    }
    Spot NextPlace();
    uint32_t PushValue();
    size_t Open(bool isCollection);
    // Makes the frame's container from its children, which are the top of
    // the stacks, and takes them off. A child whose place *moved held is
    // then found at the pointer stored there.
    void Build(const Frame& frame, Spot* moved);
    void BuildCollection(const Frame& frame, Spot* moved);
    void BuildStructure(const Frame& frame, Spot* moved);
    void GrowValues();
    PropertyArena& Arena() { return arena_ != nullptr ? *arena_ : MakeArena(); }
    PropertyArena& MakeArena();
    void ReleaseStack() noexcept;
    void Order(const Frame& frame, detail::MemberCell** index);

    static constexpr uint32_t kInlineValues = 16;

    BindingProperty* root_;
    PropertyArena* arena_ = nullptr;
    detail::WorkStack<Frame, 8> open_;
    // The values of the open containers' children, in document order, as
    // raw storage: a property moves bytewise (it holds no pointer into
    // itself or its siblings). The first ones live in the builder.
    BindingProperty* values_;
    uint32_t valueCount_ = 0;
    uint32_t valueCapacity_ = kInlineValues;
    alignas(BindingProperty) unsigned char inlineValues_[kInlineValues * sizeof(BindingProperty)];
    // The names of the open structures' members, one per value of theirs.
    detail::WorkStack<detail::InternedString*, 32> names_;
    // Where the next value goes when a Key chose it.
    Spot keyed_{nullptr, kNoSlot};
    bool inPlace_ = false;
    // Scratch of BuildStructure: the members' cells in document order, and
    // each member's first name bytes and position, to sort.
    struct OrderEntry {
        uint64_t prefix;
        uint32_t position;
    };
    detail::WorkStack<detail::MemberCell*, 16> cells_;
    detail::WorkStack<OrderEntry, 16> order_;
    // kShapeSlots, made once a few structures have closed.
    Shape* shapes_ = nullptr;
    uint32_t structuresBuilt_ = 0;
    uint32_t shapeClock_ = 0;  // structures ordered since the shapes were made
};

}  // namespace Korvo
