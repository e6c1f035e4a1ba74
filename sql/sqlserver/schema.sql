-- The planning database on Microsoft SQL Server, for the DBA: the tables and columns the link reads and writes.
-- A site's own planning table may hold more columns; the link leaves those alone. Date-times are local time
-- (datetime); amounts are exact decimal(18,2); 8-bit texts are varchar in the database's code page and the memo
-- pla_tekst is wide text.

IF OBJECT_ID(N'dbo.planning', N'U') IS NULL
CREATE TABLE dbo.planning (
    pla_id                   int IDENTITY(1,1) PRIMARY KEY,
    pla_bdr_id               int,
    pla_reiziger             int,
    pla_tarief_bedrijf       int,
    pla_extern               int,
    pla_extern_ritnummer     int,
    pla_lopers               int,
    pla_rollers              int,
    pla_rolstoel             int,
    pla_combineren           int,
    pla_rc                   int,
    pla_spoed                int,
    pla_zone_aantal          int,
    pla_zone_van             int,
    pla_zone_naar            int,
    pla_wagen                int,
    pla_route                int DEFAULT 0,
    pla_retour_rbs           int DEFAULT 0,
    pla_datum                datetime,
    pla_tijdstip             datetime,
    pla_tijdstip_locatie     datetime,
    pla_tijdstip_toewijzen   datetime,
    pla_tijdstip_bestemmen   datetime,
    pla_tijdstip_vrijmelden  datetime,
    pla_bedrag               decimal(18,2),
    pla_bedrag_1             decimal(18,2),
    pla_bedrag_3             decimal(18,2),
    pla_bedrag_5             decimal(18,2),
    pla_km_sqr               decimal(18,2),
    pla_km_map               decimal(18,2),
    pla_status               varchar(1) DEFAULT 'W',
    pla_soortvervoer         varchar(1),
    pla_soortwagen           varchar(1),
    pla_soortrit             varchar(1),
    pla_filter               varchar(1),
    pla_eigenaar             varchar(3),
    pla_ophpostcode          varchar(10),
    pla_ophnummer            varchar(10),
    pla_bestnummer           varchar(10),
    pla_bestpostcode         varchar(10),
    pla_extern_projectnummer varchar(20),
    pla_extern_locatie       varchar(20),
    pla_telefoon             varchar(40),
    pla_pasnummer            varchar(40),
    pla_temp                 varchar(40),
    pla_ophstraat            varchar(50),
    pla_ophstad              varchar(50),
    pla_besstraat            varchar(50),
    pla_beststad             varchar(50),
    pla_naam_reiziger        varchar(50),
    pla_opmerking            varchar(50),
    pla_tekst                nvarchar(max)
);
GO

IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'planning_extern_ritnummer')
    CREATE INDEX planning_extern_ritnummer ON dbo.planning (pla_extern_ritnummer);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'planning_temp')
    CREATE INDEX planning_temp ON dbo.planning (pla_temp);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'planning_retour_rbs')
    CREATE INDEX planning_retour_rbs ON dbo.planning (pla_retour_rbs);
GO

IF OBJECT_ID(N'dbo.TRANSACTIES', N'U') IS NULL
CREATE TABLE dbo.TRANSACTIES (
    tra_id        int IDENTITY(1,1) PRIMARY KEY,
    tra_gebruiker int,
    tra_ritstaat  int,
    tra_rit       int,
    tra_wagen     int,
    tra_chauffeur int,
    tra_code      int,
    tra_opmerking varchar(255),
    tra_datum     datetime DEFAULT GETDATE()
);
GO
