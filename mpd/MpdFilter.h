#pragma once

#include "MpdTags.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// How a filter compares texts: find's way, exact and case-sensitive, or search's, which folds
// case and accents as the library page's search does (SearchFold).
enum class TMpdMatch : quint8 { Exact, Folded };

// What a filter sees of a track: its URI and its tags.
struct TMpdSongRef {
    QByteArrayView Uri;
    const TTrackTags *Tags = nullptr;
};

// The conditions of find, search, list, count and their kin: filter expressions
// ("(artist == 'X')", "(album contains 'y')", "!=", "starts_with", "(!(...))",
// "((a) AND (b))", "(base 'folder')", "(file == 'uri')", "(any contains 'x')") or the old
// TYPE VALUE pairs (find: equal, search: contains). A track matches when every condition holds;
// a filter without conditions matches every track.
class TMpdFilter {
public:
    // Bounds on what a client sends: how deep expressions nest, how long they are, how many
    // conditions they hold.
    static constexpr int MaxDepth = 32;
    static constexpr qsizetype MaxBytes = 8192;
    // Conditions in all: each costs a pass over every track on the GUI thread.
    static constexpr int MaxConditions = 16;

    // The filter Args give (expressions and pairs in any mix, an expression being one argument);
    // none, with MPD's reason in *Error, when they are not one.
    static std::optional<TMpdFilter> Parse(const QByteArrayList &Args, TMpdMatch Match,
                                           QString *Error);

    bool IsEmpty() const { return FNodes.isEmpty(); }
    bool Matches(const TMpdSongRef &Song) const;

private:
    enum class TKind : quint8 { Tag, OtherTag, Any, File, Base, Not, And };
    enum class TOp : quint8 { Equal, NotEqual, Contains, StartsWith };
    struct TNode {
        TKind Kind = TKind::And;
        TOp Op = TOp::Equal;
        TMpdTag Tag = TMpdTag::Artist;
        QString Value;       // Exact: as sent
        QByteArray Bytes;    // the value's bytes (URIs); Folded: folded
        QList<int> Children; // into FNodes
    };
    class TParser;

    bool NodeMatches(int Node, const TMpdSongRef &Song) const;
    bool TextMatches(const TNode &Node, QStringView Text) const;
    bool TagMatches(const TNode &Node, const TTrackTags &Tags, TMpdTag Tag) const;
    bool UriMatches(const TNode &Node, QByteArrayView Uri) const;

    TMpdMatch FMatch = TMpdMatch::Exact;
    // The top node is the first; the top's children are the conditions that must all hold.
    QList<TNode> FNodes;
};
