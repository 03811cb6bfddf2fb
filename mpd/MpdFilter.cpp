#include "MpdFilter.h"

#include "AsciiText.h"
#include "SearchFold.h"

class TMpdFilter::TParser {
public:
    TParser(TMpdFilter &Filter, QString *Error) : F(Filter), FError(Error) {}

    // One expression, the whole of Text; the new node's index, -1 on error.
    int Expression(QByteArrayView Text) {
        FText = Text;
        FAt = 0;
        const int Node = Parenthesised(0);
        SkipSpaces();
        if (Node >= 0 && FAt != FText.size())
            return Fail(QStringLiteral("Unparsed garbage after expression"));
        return Node;
    }

    // One old TYPE VALUE pair; the new node's index, -1 on error.
    int Pair(const QByteArray &Type, const QByteArray &Value) {
        TNode Node;
        Node.Op = F.FMatch == TMpdMatch::Folded ? TOp::Contains : TOp::Equal;
        if (!Classify(Type, Node))
            return -1;
        return Add(std::move(Node), Value);
    }

    int Fail(const QString &Text) {
        if (FError && FError->isEmpty())
            *FError = Text;
        return -1;
    }

private:
    void SkipSpaces() {
        while (FAt < FText.size() && (FText[FAt] == ' ' || FText[FAt] == '\t'))
            ++FAt;
    }
    bool Take(QByteArrayView Word) {
        if (!FText.sliced(FAt).startsWith(Word))
            return false;
        FAt += Word.size();
        return true;
    }
    bool IsWordChar(char C) const {
        return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') ||
               C == '_' || C == '-';
    }

    // What a type word names: a tag, "any", "file" or "base".
    bool Classify(const QByteArray &Type, TNode &Node) {
        if (const auto Tag = MpdTagOf(Type)) {
            Node.Kind = TKind::Tag;
            Node.Tag = *Tag;
        } else if (SameTextAscii(Type, "any")) {
            Node.Kind = TKind::Any;
        } else if (SameTextAscii(Type, "file")) {
            Node.Kind = TKind::File;
        } else if (SameTextAscii(Type, "base")) {
            Node.Kind = TKind::Base;
        } else if (IsOtherMpdTag(Type)) {
            Node.Kind = TKind::OtherTag;
        } else {
            return Fail(QStringLiteral("Unknown filter type: ") + QString::fromUtf8(Type)) >= 0;
        }
        return true;
    }

    int Add(TNode Node, const QByteArray &Value) {
        if (++FConditions > MaxConditions)
            return Fail(QStringLiteral("Too many filter conditions"));
        const bool Folded = F.FMatch == TMpdMatch::Folded && Node.Kind != TKind::Base;
        Node.Value = QString::fromUtf8(Value);
        Node.Bytes = Folded ? SearchFold(Node.Value) : Value;
        F.FNodes.append(std::move(Node));
        return int(F.FNodes.size()) - 1;
    }

    // A quoted value with backslash escapes.
    bool Quoted(QByteArray &Value) {
        SkipSpaces();
        if (FAt >= FText.size() || (FText[FAt] != '"' && FText[FAt] != '\''))
            return Fail(QStringLiteral("Quoted string expected")) >= 0;
        const char Quote = FText[FAt++];
        while (FAt < FText.size() && FText[FAt] != Quote) {
            if (FText[FAt] == '\\' && FAt + 1 < FText.size())
                ++FAt;
            Value += FText[FAt++];
        }
        if (FAt >= FText.size())
            return Fail(QStringLiteral("Closing quote not found")) >= 0;
        ++FAt;
        return true;
    }

    // "(" ... ")" at FAt.
    int Parenthesised(int Depth) {
        SkipSpaces();
        if (Depth >= MaxDepth)
            return Fail(QStringLiteral("Filter expression nested too deeply"));
        if (!Take("("))
            return Fail(QStringLiteral("'(' expected"));
        SkipSpaces();
        int Node = -1;
        if (Take("!")) {
            const int Inner = Parenthesised(Depth + 1);
            if (Inner < 0)
                return -1;
            TNode Not;
            Not.Kind = TKind::Not;
            Not.Children = {Inner};
            F.FNodes.append(std::move(Not));
            Node = int(F.FNodes.size()) - 1;
        } else if (FAt < FText.size() && FText[FAt] == '(') {
            TNode And;
            And.Kind = TKind::And;
            do {
                const int Inner = Parenthesised(Depth + 1);
                if (Inner < 0)
                    return -1;
                And.Children.append(Inner);
                SkipSpaces();
            } while (Take("AND"));
            F.FNodes.append(std::move(And));
            Node = int(F.FNodes.size()) - 1;
        } else if ((Node = Condition()) < 0) {
            return -1;
        }
        SkipSpaces();
        if (!Take(")"))
            return Fail(QStringLiteral("')' expected"));
        return Node;
    }

    // "TYPE OP 'VALUE'" or "base 'VALUE'".
    int Condition() {
        const qsizetype Start = FAt;
        while (FAt < FText.size() && IsWordChar(FText[FAt]))
            ++FAt;
        const QByteArray Type = FText.sliced(Start, FAt - Start).toByteArray();
        if (Type.isEmpty())
            return Fail(QStringLiteral("Tag name expected"));
        TNode Node;
        if (!Classify(Type, Node))
            return -1;
        if (Node.Kind != TKind::Base) {
            SkipSpaces();
            if (Take("=="))
                Node.Op = TOp::Equal;
            else if (Take("!="))
                Node.Op = TOp::NotEqual;
            else if (Take("contains"))
                Node.Op = TOp::Contains;
            else if (Take("starts_with"))
                Node.Op = TOp::StartsWith;
            else if (Take("=~") || Take("!~"))
                return Fail(QStringLiteral("Regular expressions are not supported"));
            else
                return Fail(QStringLiteral("Unknown filter operator"));
        }
        QByteArray Value;
        if (!Quoted(Value))
            return -1;
        return Add(std::move(Node), Value);
    }

    TMpdFilter &F;
    QString *FError;
    QByteArrayView FText;
    qsizetype FAt = 0;
    int FConditions = 0;
};

std::optional<TMpdFilter> TMpdFilter::Parse(const QByteArrayList &Args, TMpdMatch Match,
                                            QString *Error) {
    TMpdFilter Filter;
    Filter.FMatch = Match;
    if (Error)
        Error->clear();
    TParser Parser(Filter, Error);
    TNode Top;
    Filter.FNodes.append(Top);
    for (qsizetype I = 0; I < Args.size(); ++I) {
        int Node;
        if (Args[I].startsWith('(')) {
            Node = Args[I].size() > MaxBytes
                       ? Parser.Fail(QStringLiteral("Filter expression too long"))
                       : Parser.Expression(Args[I]);
        } else if (I + 1 < Args.size()) {
            Node = Parser.Pair(Args[I], Args[I + 1]);
            ++I;
        } else {
            Node = Parser.Fail(QStringLiteral("Incorrect number of filter arguments"));
        }
        if (Node < 0)
            return std::nullopt;
        Filter.FNodes[0].Children.append(Node);
    }
    if (Filter.FNodes[0].Children.isEmpty())
        Filter.FNodes.clear();
    return Filter;
}

bool TMpdFilter::Matches(const TMpdSongRef &Song) const {
    return FNodes.isEmpty() || NodeMatches(0, Song);
}

bool TMpdFilter::TextMatches(const TNode &Node, QStringView Text) const {
    if (FMatch == TMpdMatch::Folded) {
        const QByteArray Folded = SearchFold(Text);
        switch (Node.Op) {
        case TOp::Equal:
        case TOp::NotEqual:
            return Folded == Node.Bytes;
        case TOp::Contains:
            return Folded.contains(Node.Bytes);
        case TOp::StartsWith:
            return Folded.startsWith(Node.Bytes);
        }
    }
    switch (Node.Op) {
    case TOp::Equal:
    case TOp::NotEqual:
        return Text == Node.Value;
    case TOp::Contains:
        return Text.contains(Node.Value);
    case TOp::StartsWith:
        return Text.startsWith(Node.Value);
    }
    return false;
}

bool TMpdFilter::TagMatches(const TNode &Node, const TTrackTags &Tags, TMpdTag Tag) const {
    bool Any = false, Hit = false;
    ForEachTagValue(Tags, Tag, [&](QStringView Value) {
        Any = true;
        Hit = Hit || TextMatches(Node, Value);
    });
    if (!Any && MpdFallbackTag(Tag) != Tag)
        ForEachTagValue(Tags, MpdFallbackTag(Tag), [&](QStringView Value) {
            Any = true;
            Hit = Hit || TextMatches(Node, Value);
        });
    // A track without the tag has it empty.
    return Any ? Hit : TextMatches(Node, QStringView());
}

bool TMpdFilter::UriMatches(const TNode &Node, QByteArrayView Uri) const {
    if (Node.Kind == TKind::Base) {
        const QByteArray Folder = Node.Bytes.endsWith('/') ? Node.Bytes.chopped(1) : Node.Bytes;
        return Folder.isEmpty() ||
               (Uri.startsWith(Folder) && Uri.size() > Folder.size() && Uri[Folder.size()] == '/');
    }
    if (FMatch == TMpdMatch::Folded)
        return TextMatches(Node, QString::fromUtf8(Uri));
    switch (Node.Op) {
    case TOp::Equal:
    case TOp::NotEqual:
        return Uri == QByteArrayView(Node.Bytes);
    case TOp::Contains:
        return Uri.contains(Node.Bytes);
    case TOp::StartsWith:
        return Uri.startsWith(Node.Bytes);
    }
    return false;
}

bool TMpdFilter::NodeMatches(int Index, const TMpdSongRef &Song) const {
    const TNode &Node = FNodes[Index];
    bool Hit = false;
    switch (Node.Kind) {
    case TKind::And:
        for (const int Child : Node.Children)
            if (!NodeMatches(Child, Song))
                return false;
        return true;
    case TKind::Not:
        return !NodeMatches(Node.Children.first(), Song);
    case TKind::Base:
        return UriMatches(Node, Song.Uri);
    case TKind::File:
        Hit = UriMatches(Node, Song.Uri);
        break;
    case TKind::Tag:
        Hit = TagMatches(Node, *Song.Tags, Node.Tag);
        break;
    case TKind::OtherTag:
        Hit = TextMatches(Node, QStringView());
        break;
    case TKind::Any:
        for (int Tag = 0; Tag < int(TMpdTag::Count) && !Hit; ++Tag)
            ForEachTagValue(*Song.Tags, TMpdTag(Tag),
                            [&](QStringView Value) { Hit = Hit || TextMatches(Node, Value); });
        break;
    }
    return Node.Op == TOp::NotEqual ? !Hit : Hit;
}
