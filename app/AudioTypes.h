#pragma once

#include <QByteArray>
#include <QString>

// Every accepted pattern upper-cased, ";"-separated ("*.ASF;*.ASX;...").
const QByteArray &AudioExtensionList();
// The open dialog's filter: "All audio file|patterns|" + "Description (patterns)|patterns"
// for each group of types.
const QByteArray &AudioFileFilter();

// The audio filter ("Description|patterns|...") as a QFileDialog name filter
// ("Description (*.a *.b);;...").
QString QtFileFilter(const QByteArray &Filter);

// Whether Name's extension (the whole of it, any case) is one of the accepted audio types.
bool IsAcceptedAudioName(const QByteArray &Name);

// The content type of an accepted audio file by its exact extension; empty for any other.
QByteArray AudioContentType(const QByteArray &Name);
