-- The planning database on one SQLite file. The link runs these statements at every connect, so a new file gets
-- its tables and an existing one is left as it is. Date-times are local wall-clock time as text,
-- "yyyy-MM-dd HH:mm:ss"; amounts are DECIMAL(18,2) receiving their exact decimal text.

CREATE TABLE IF NOT EXISTS planning (
    pla_id                   INTEGER PRIMARY KEY AUTOINCREMENT,
    pla_bdr_id               INTEGER,
    pla_reiziger             INTEGER,
    pla_tarief_bedrijf       INTEGER,
    pla_extern               INTEGER,
    pla_extern_ritnummer     INTEGER,
    pla_lopers               INTEGER,
    pla_rollers              INTEGER,
    pla_rolstoel             INTEGER,
    pla_combineren           INTEGER,
    pla_rc                   INTEGER,
    pla_spoed                INTEGER,
    pla_zone_aantal          INTEGER,
    pla_zone_van             INTEGER,
    pla_zone_naar            INTEGER,
    pla_wagen                INTEGER,
    pla_route                INTEGER DEFAULT 0,
    pla_retour_rbs           INTEGER DEFAULT 0,
    pla_datum                DATETIME,
    pla_tijdstip             DATETIME,
    pla_tijdstip_locatie     DATETIME,
    pla_tijdstip_toewijzen   DATETIME,
    pla_tijdstip_bestemmen   DATETIME,
    pla_tijdstip_vrijmelden  DATETIME,
    pla_bedrag               DECIMAL(18,2),
    pla_bedrag_1             DECIMAL(18,2),
    pla_bedrag_3             DECIMAL(18,2),
    pla_bedrag_5             DECIMAL(18,2),
    pla_km_sqr               DECIMAL(18,2),
    pla_km_map               DECIMAL(18,2),
    pla_status               VARCHAR(1) DEFAULT 'W',
    pla_soortvervoer         VARCHAR(1),
    pla_soortwagen           VARCHAR(1),
    pla_soortrit             VARCHAR(1),
    pla_filter               VARCHAR(1),
    pla_eigenaar             VARCHAR(3),
    pla_ophpostcode          VARCHAR(10),
    pla_ophnummer            VARCHAR(10),
    pla_bestnummer           VARCHAR(10),
    pla_bestpostcode         VARCHAR(10),
    pla_extern_projectnummer VARCHAR(20),
    pla_extern_locatie       VARCHAR(20),
    pla_telefoon             VARCHAR(40),
    pla_pasnummer            VARCHAR(40),
    pla_temp                 VARCHAR(40),
    pla_ophstraat            VARCHAR(50),
    pla_ophstad              VARCHAR(50),
    pla_besstraat            VARCHAR(50),
    pla_beststad             VARCHAR(50),
    pla_naam_reiziger        VARCHAR(50),
    pla_opmerking            VARCHAR(50),
    pla_tekst                TEXT
);

-- The intake looks rides up by BSA ride number and by temporary key; feedback scans for rows to report.
CREATE INDEX IF NOT EXISTS planning_extern_ritnummer ON planning (pla_extern_ritnummer);
CREATE INDEX IF NOT EXISTS planning_temp ON planning (pla_temp);
CREATE INDEX IF NOT EXISTS planning_retour_rbs ON planning (pla_retour_rbs);

CREATE TABLE IF NOT EXISTS TRANSACTIES (
    tra_id        INTEGER PRIMARY KEY AUTOINCREMENT,
    tra_gebruiker INTEGER,
    tra_ritstaat  INTEGER,
    tra_rit       INTEGER,
    tra_wagen     INTEGER,
    tra_chauffeur INTEGER,
    tra_code      INTEGER,
    tra_opmerking VARCHAR(255),
    tra_datum     DATETIME DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'))
);
