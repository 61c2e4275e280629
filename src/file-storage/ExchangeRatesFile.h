#pragma once

#include "zel/file-storage/Export.h"
#include "zel/storage/Storage.h"

#include <QString>
#include <QtGlobal>

namespace zel::file_storage {

// The application's cache of currency conversion ratios and the time they were last fetched,
// kept in "exchange-rates.dat" in the user's writable cache directory.
//
// The file is big-endian binary: the magic "ZELE", a version byte, then, in Qt data-stream
// version 21, the table of ratios (a QMap from source code text to a QMap from target code text
// to a double) and the last-fetched time as a local QDateTime. Files already on disk rely on
// every detail of that layout.
//
// Every failure is thrown as BinaryFileError, whose first text names the file. A default object
// holds nothing: its location is worked out once per process, on first use. An object may be
// given another path instead, to look into a copy of the file. docs/reference.md lists what a
// load and a store do, their errors and the files they leave.
class ZEL_FILE_STORAGE_EXPORT ExchangeRatesFile : public storage::ExchangeRatesStorage {
public:
    // The first four bytes of every file, "ZELE" read as a big-endian number.
    static quint32 const magicFileMarker_;
    // The format version that store writes and the only one that load accepts.
    static quint8 const latestVersion_;

    // The file in the user's cache directory.
    ExchangeRatesFile();
    // The file at path, which is used as given.
    explicit ExchangeRatesFile(QString path);
    ExchangeRatesFile(ExchangeRatesFile const&);
    ExchangeRatesFile(ExchangeRatesFile&&) noexcept;
    ExchangeRatesFile& operator=(ExchangeRatesFile const&);
    ExchangeRatesFile& operator=(ExchangeRatesFile&&) noexcept;
    ~ExchangeRatesFile() override;

    // True when a regular file stands at the location (a directory of that name does not count).
    bool exists() const override;
    // Removes the file if there is one. Reports nothing, not even a failed removal.
    void remove() const override;
    // Reads the ratios and the last-fetched time. Throws BinaryFileError when the file cannot be
    // opened or is not a regular file, is not an exchange-rates file, has another version, or holds
    // a table, time stamp or currency code that cannot be read, a ratio that is not a finite
    // positive number, a time stamp that a store does not write (another time spec than local
    // time, a date or time of day out of range), or anything after the time stamp ("Contains
    // invalid data.", with the reason as its cause).
    conversion::ConversionMap load() const override;
    // Writes the ratios and the last-fetched time, the time truncated to the millisecond,
    // creating the cache directory if needed. The file is replaced in one step and synced: a
    // crash or a failure at any point leaves the previous file or the new one, and a load
    // running meanwhile reads one of them whole. Throws BinaryFileError, touching nothing, for a
    // ratio that is not a finite positive number, which no load would take; and when the
    // directory cannot be created or the new file cannot be written, synced or put in place.
    void store(conversion::ConversionMap const& rates) const override;

    // The file's full path: the one given, or the one in the cache directory.
    QString const& filePathName() const;

private:
    // The directory that holds the file.
    QString filePath() const;

    QString path_; // empty: the file in the cache directory
};

} // namespace zel::file_storage
