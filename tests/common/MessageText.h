#pragma once

#include "CommandReader.h"

// One received message as "WORD / line / line", for readable comparisons.
inline QByteArray Render(const TCommandMessage &M) {
    QByteArray Out = M.Word;
    for (const QByteArray &Line : M.Lines)
        Out += " / " + Line;
    return Out;
}
