// The statements of the embedded store. They have the effects of the SQL Server set: the same
// columns and status codes, open matters filled before closed ones, types upper-cased, and no
// update ever touches a queue row whose status is no longer 0.
#include "driver/queue/QueueStatements.h"

namespace kvo::driver {

namespace {

// Host columns may be blank-padded; SQL Server ignores trailing blanks when it compares and
// stores char(3), so the type is trimmed here before it is compared and stored.
std::string Fill(std::string_view hostTable) {
    return JoinLines({
        "INSERT",
        "  INTO DASearchable",
        "      (TrackReference,",
        "       Type,",
        "       FilePath,",
        "       Processed)",
        "select DA.TrackReference,",
        "       UPPER(RTRIM(DA.Type)) As Type,",
        "       DA.FilePath As FilePath,",
        "       case UPPER(RTRIM(DA.Type))",
        "            WHEN 'PDF' Then 0",
        "            WHEN 'BMP' Then 0",
        "            WHEN 'TIF' Then 0",
        "            WHEN 'TIFF' Then 0",
        "            WHEN 'JPG' Then 0",
        "            WHEN 'JPEG' Then 0",
        "            WHEN 'G3N' Then 0",
        "            WHEN 'GIF' Then 0",
        "            ELSE 5 END As Processed",
        "  from " + std::string(hostTable) + " DA",
        "       left outer join DASearchable DS",
        "                    ON DS.TrackReference = DA.TrackReference",
        " where DS.TrackReference is null",
    });
}

std::string QueueUpdate(std::initializer_list<std::string_view> setLines, const std::string& id) {
    std::string text = "UPDATE DASearchable";
    for (std::string_view line : setLines) (text += "\r\n") += line;
    return text + "\r\n WHERE TrackReference = " + id + "\r\n   AND Processed = 0";
}

std::string U1(const std::string& id) { return QueueUpdate({"   SET Processed = 2"}, id); }

std::string U2(const std::string& id, const std::string& path) {
    return QueueUpdate({"   SET Type = 'PDF',", "       FilePath = '" + DoubleApostrophes(path) + "',",
                        "       Processed = 3"},
                       id);
}

std::string U3(const std::string& id) { return QueueUpdate({"   SET Processed = 5"}, id); }

std::string HostUpdate(std::string_view hostTable, const std::string& id, const std::string& path) {
    return JoinLines({
        "UPDATE " + std::string(hostTable),
        "   SET Type = 'PDF',",
        "       FilePath = '" + DoubleApostrophes(path) + "'",
        " WHERE TrackReference = " + id,
    });
}

std::string U4(const std::string& id, const std::string& path) { return HostUpdate("DiaryAttachments", id, path); }

std::string U5(const std::string& id, const std::string& path) {
    return HostUpdate("CloseDiaryAttachments", id, path);
}

std::string U6(const std::string& id, const std::string& path) {
    return QueueUpdate({"   SET Type = 'PDF',", "       FilePath = '" + DoubleApostrophes(path) + "',",
                        "       Processed = 2"},
                       id);
}

}  // namespace

const QueueStatements& SqliteStatements() {
    static const QueueStatements statements{
        // S1
        JoinLines({
            "select count(1) As Total",
            "  from sqlite_master",
            " where type = 'table'",
            "   and name = 'DASearchable' COLLATE NOCASE",
        }),
        // S2
        JoinLines({
            "Create Table",
            "       DASearchable",
            "      (TrackReference          int not null,",
            "       Type                    char(3) not null,",
            "       FilePath                char(255),",
            "       Processed               int)",
        }),
        // S3: the primary key as a unique index of that name (SQLite cannot add a constraint
        // to an existing table).
        JoinLines({
            "Create Unique Index",
            "       PK_DASearchable",
            "    ON DASearchable (TrackReference ASC)",
        }),
        // S4, S5
        Fill("DiaryAttachments"),
        Fill("CloseDiaryAttachments"),
        // S6
        JoinLines({
            "SELECT count(1) As Total",
            "  From DASearchable",
            " WHERE Processed = 0",
        }),
        // S7
        JoinLines({
            "SELECT IfNull(Cast(TrackReference As Text), '0') As TrackReference,",
            "       RTrim(FilePath) As FilePath,",
            "       UPPER(Type) As Type",
            "  From DASearchable",
            " WHERE Processed = 0",
        }),
        U1, U2, U3, U4, U5, U6,
    };
    return statements;
}

}  // namespace kvo::driver
