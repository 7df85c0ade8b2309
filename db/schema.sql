-- Tables of the station database that tarnmon reads and writes.
--
-- tarnmon creates no table: install this file once into the database named
-- by mysqlcfg/dbname in syscfg.ini, for example
--     mariadb -u root tarnmon < db/schema.sql
-- then fill the equipment mapping (eqmid, tablename, colname) of
-- rptparamindex, see sample-mapping.sql.
--
-- Three groups:
--   rptparamindex  object reference of a value leaf in an IED model -> place
--                  in a measurement table (the program enters objid and
--                  paramindex; eqmid, tablename and colname are filled here)
--   comtradrd      one row per recorder (COMTRADE .dat) file fetched from an IED
--   data_*_h       measurement tables: one row per equipment (eqmid) and time
--                  slot (d_time, local time); each value column is written by
--                  its own statement, so the unique key (eqmid, d_time) lets a
--                  row be completed column by column.
--
-- Value columns are DOUBLE and NULL until a value arrives.  Their names are
-- what rptparamindex.colname refers to; a station with other quantities adds
-- its own columns (plain lower-case identifiers).  Column names containing
-- "tmp" or "flatgas" in data_epa_h have their own slot lengths
-- (yspinterval1, yspinterval); lastligtm in data_moa_h is a date-time
-- (Unix time of the last lightning strike); padschalm in data_pd_h is an
-- alarm stored at its exact time in a row with isupload = 0.
--
-- Every statement is idempotent (IF NOT EXISTS), so the file can be loaded
-- again over an existing installation.

SET NAMES utf8mb4;

-- Map from a value in the IED models to a measurement table column.
-- paramindex: MMS reference of the value leaf, LDname/LNname$FC$DO$DA...
-- (at most 129 characters; the import writes a 130-byte buffer).
-- A row is archived only when eqmid, tablename and colname are all set.
CREATE TABLE IF NOT EXISTS rptparamindex (
  id         INT          NOT NULL AUTO_INCREMENT,
  objid      INT          NULL,
  paramindex VARCHAR(255) NOT NULL,
  eqmid      INT          NULL,
  tablename  VARCHAR(64)  NULL,
  colname    VARCHAR(64)  NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_rptparamindex_paramindex (paramindex)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Recorder files fetched from the IEDs.  filepreno is the file name up to
-- its last "_" (the series); filetime the IED's last-modified time (local);
-- isupload 1 = the FTP client's last upload had succeeded when the row was
-- written, 0 = it had failed.
CREATE TABLE IF NOT EXISTS comtradrd (
  id        INT          NOT NULL AUTO_INCREMENT,
  filename  VARCHAR(255) NOT NULL,
  srvid     INT          NOT NULL,
  filepreno VARCHAR(255) NOT NULL,
  filetime  DATETIME     NOT NULL,
  isupload  INT          NOT NULL DEFAULT 0,
  PRIMARY KEY (id),
  UNIQUE KEY uk_comtradrd_filename (filename),
  KEY k_comtradrd_series (srvid, filepreno)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Equipment temperatures (slot: tempmeasureinterval): transformer top oil,
-- winding and ambient (STMP).
CREATE TABLE IF NOT EXISTS data_etp_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  toptmp    DOUBLE   NULL,
  wdgtmp    DOUBLE   NULL,
  envtmp    DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_etp_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Dissolved gases in transformer oil.  Slots: columns containing "flatgas"
-- yspinterval, containing "tmp" yspinterval1, all others yspinterval2.
-- (The sample station has no oil analyser; these are the usual quantities.)
CREATE TABLE IF NOT EXISTS data_epa_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  h2        DOUBLE   NULL,
  ch4       DOUBLE   NULL,
  c2h6      DOUBLE   NULL,
  c2h4      DOUBLE   NULL,
  c2h2      DOUBLE   NULL,
  co        DOUBLE   NULL,
  co2       DOUBLE   NULL,
  thc       DOUBLE   NULL,
  mst       DOUBLE   NULL,
  oiltmp    DOUBLE   NULL,
  flatgas   DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_epa_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- SF6 gas of a GIS compartment (slot: sf6interval) (SIMG).
CREATE TABLE IF NOT EXISTS data_sf6_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  pres      DOUBLE   NULL,
  den       DOUBLE   NULL,
  tmp       DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_sf6_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Metal-oxide surge arresters (slot: moainterval) (ZSAR): leakage current,
-- strike count and the time of the last strike (lastligtm, a date-time;
-- the value arrives as Unix time).
CREATE TABLE IF NOT EXISTS data_moa_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  leaka     DOUBLE   NULL,
  strkcnt   DOUBLE   NULL,
  lastligtm DATETIME NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_moa_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Partial discharge (slot: pdinterval) (SPDC).  An alarm (padschalm > 0) is
-- stored at its exact time in a row with isupload = 0, for the consumer
-- to pick up; ordinary rows keep the default 1.
CREATE TABLE IF NOT EXISTS data_pd_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  acupadsch DOUBLE   NULL,
  opcnt     DOUBLE   NULL,
  padschalm DOUBLE   NULL,
  isupload  INT      NOT NULL DEFAULT 1,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_pd_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Station micro-climate (slot: microweatherinterval) (MMET).
CREATE TABLE IF NOT EXISTS data_microclimate_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  envtmp    DOUBLE   NULL,
  envhum    DOUBLE   NULL,
  envpres   DOUBLE   NULL,
  wnspd     DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_microclimate_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Insulation of capacitive equipment (slot: jyinterval): dielectric loss,
-- capacitance, leakage current.
CREATE TABLE IF NOT EXISTS data_eia_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  dieloss   DOUBLE   NULL,
  capval    DOUBLE   NULL,
  leaka     DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_eia_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Cable sheath circulating current per phase (slot: scurinterval).
CREATE TABLE IF NOT EXISTS data_scur_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  phsa      DOUBLE   NULL,
  phsb      DOUBLE   NULL,
  phsc      DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_scur_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Cable trench (slot: dlginterval).  (Not in the sample station.)
CREATE TABLE IF NOT EXISTS data_dlg_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  envtmp    DOUBLE   NULL,
  envhum    DOUBLE   NULL,
  wtrlvl    DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_dlg_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Grounding grid (slot: jdwinterval): resistance and current.  (Not in the
-- sample station.)
CREATE TABLE IF NOT EXISTS data_jdw_h (
  id        BIGINT   NOT NULL AUTO_INCREMENT,
  eqmid     INT      NOT NULL,
  d_time    DATETIME NOT NULL,
  res       DOUBLE   NULL,
  cur       DOUBLE   NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uk_data_jdw_h (eqmid, d_time)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
