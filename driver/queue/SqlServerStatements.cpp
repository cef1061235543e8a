// The statements sent to SQL Server, each line exactly as the host database expects it.
#include "driver/queue/QueueStatements.h"

namespace kvo::driver {

std::string JoinLines(std::initializer_list<std::string_view> lines) {
    std::string joined;
    for (std::string_view line : lines) {
        if (!joined.empty()) joined += "\r\n";
        joined += line;
    }
    return joined;
}

std::string DoubleApostrophes(std::string_view path) {
    std::string quoted;
    for (char c : path) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted;
}

namespace {

// S4 and S5 differ only in the host table of line 20.
std::string Fill(std::string_view line20) {
    return JoinLines({
        "INSERT",
        "  INTO [dbo].[DASearchable]",
        "      ([TrackReference],",
        "       [Type],",
        "       [FilePath],",
        "       [Processed])",
        "select DA.[TrackReference],",
        "       UPPER(DA.[Type]) As [Type],",
        "       DA.[FilePath] As [FilePath],",
        "       case UPPER(DA.[Type])",
        "            WHEN 'PDF' Then 0",
        "            WHEN 'BMP' Then 0",
        "            WHEN 'TIF' Then 0",
        "            WHEN 'TIFF' Then 0",
        "            WHEN 'JPG' Then 0",
        "            WHEN 'JPEG' Then 0",
        "            WHEN 'G3N' Then 0",
        "            WHEN 'GIF' Then 0",
        "            ELSE 5 END As [Processed]",
        line20,
        "       left outer join [dbo].[DASearchable] DS",
        "                    ON DS.[TrackReference] = DA.[TrackReference]",
        " where DS.[TrackReference] is null",
    });
}

std::string U1(const std::string& id) {
    return JoinLines({
        "UPDATE [dbo].[DASearchable]",
        "   SET [Processed] = 2",
        " WHERE [TrackReference] = " + id,
    });
}

std::string U2(const std::string& id, const std::string& path) {
    return JoinLines({
        "UPDATE [dbo].[DASearchable]",
        "   SET [TYPE] = 'PDF',",
        "       [FilePath] = '" + DoubleApostrophes(path) + "',",
        "       [Processed] = 3",
        " WHERE [TrackReference] = " + id,
    });
}

std::string U3(const std::string& id) {
    return JoinLines({
        "UPDATE [dbo].[DASearchable]",
        "   SET [Processed] = 5",
        " WHERE [TrackReference] = " + id,
    });
}

std::string HostUpdate(std::string_view line1, const std::string& id, const std::string& path) {
    return JoinLines({
        line1,
        "   SET [TYPE] = 'PDF',",
        "       [FilePath] = '" + DoubleApostrophes(path) + "'",
        " WHERE [TrackReference] = " + id,
    });
}

std::string U4(const std::string& id, const std::string& path) {
    return HostUpdate("UPDATE [dbo].[DiaryAttachments]", id, path);
}

std::string U5(const std::string& id, const std::string& path) {
    return HostUpdate("UPDATE [dbo].[CloseDiaryAttachments]", id, path);
}

std::string U6(const std::string& id, const std::string& path) {
    return JoinLines({
        "UPDATE [dbo].[DASearchable]",
        "   SET [TYPE] = 'PDF',",
        "       [FilePath] = '" + DoubleApostrophes(path) + "',",
        "       [Processed] = 2",
        " WHERE [TrackReference] = " + id,
    });
}

}  // namespace

const QueueStatements& SqlServerStatements() {
    static const QueueStatements statements{
        // S1
        JoinLines({
            "select count(1) As Total",
            "  from sysusers SU",
            "       inner join sysobjects SO",
            "               on SO.[uid] = SU.[uid]",
            "              and SO.[xtype] = 'U'",
            "              and SO.[name] = 'DASearchable'",
            " where SU.[name] = 'dbo'",
        }),
        // S2
        JoinLines({
            "Create Table",
            "       [dbo].[DASearchable]",
            "      ([TrackReference]          int not null,",
            "       [Type]                    char(3) not null,",
            "       [FilePath]                char(255),",
            "       [Processed]               int)",
        }),
        // S3
        JoinLines({
            "Alter Table",
            "      [dbo].[DASearchable]",
            "  ADD CONSTRAINT [PK_DASearchable]",
            "                 PRIMARY KEY CLUSTERED",
            "                ([TrackReference] ASC)",
            "  ON [PRIMARY]",
        }),
        // S4, S5
        Fill("  from [dbo].[DiaryAttachments] DA"),
        Fill("  from [dbo].[CloseDiaryAttachments] DA"),
        // S6
        JoinLines({
            "SELECT count(1) As Total",
            "  From [dbo].[DASearchable]",
            " WHERE [Processed] = 0",
        }),
        // S7
        JoinLines({
            "SELECT IsNull(Convert(varchar(12), TrackReference), '0') As TrackReference,",
            "       RTrim([FilePath]) As [FilePath],",
            "       UPPER([Type]) As [Type]",
            "  From [dbo].[DASearchable]",
            " WHERE [Processed] = 0",
        }),
        U1, U2, U3, U4, U5, U6,
    };
    return statements;
}

}  // namespace kvo::driver
