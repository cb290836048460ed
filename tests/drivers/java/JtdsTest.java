// varrowd through jTDS (libjtds-java): the batch jTDS sends after login,
// PreparedStatement (sp_prepare / sp_execute), CallableStatement with OUTPUT
// parameters and the return status, plain statements. Run by the JDK's
// source launcher; connection settings come from the environment that
// run_driver.py sets. Reports every failing check and exits 1 if any failed.

import java.security.MessageDigest;
import java.sql.CallableStatement;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLWarning;
import java.sql.Statement;
import java.sql.Types;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Objects;
import javax.crypto.Cipher;
import javax.crypto.SecretKey;

public class JtdsTest {
  static final String KEY_128 = "000102030405060708090A0B0C0D0E0F";
  static final String PLAIN = "The quick brown fox";
  static final String TEXT_50005 =
      "Error: invalid key param, key should be 32/48/64 bytes char that contains hex values";
  static final String HASH_THEN_HEX =
      "DECLARE @d VARCHAR(16), @h VARCHAR(32); "
          + "EXEC xp_MD5_Encrypt ?, @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; SELECT @h";
  static final String AES_ROUND_TRIP =
      "DECLARE @c VARCHAR(64), @h VARCHAR(128), @p VARCHAR(64); "
          + "EXEC xp_AES_Encrypt ?, ?, @c OUTPUT; EXEC xp_hexstr @c, @h OUTPUT; "
          + "EXEC xp_AES_Decrypt @c, ?, @p OUTPUT; SELECT @h, @p";

  static final List<String> failures = new ArrayList<>();
  static int checks = 0;

  interface Check {
    void run(Connection connection) throws Exception;
  }

  static void expect(String what, Object expected, Object actual) {
    if (!Objects.equals(expected, actual)) {
      throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
    }
  }

  static String url(String extra) {
    String encryption = System.getenv().getOrDefault("VARROW_TEST_ENCRYPTION", "off");
    String url = "jdbc:jtds:sqlserver://" + System.getenv().getOrDefault("VARROW_TEST_HOST", "127.0.0.1")
        + ":" + System.getenv("VARROW_TEST_PORT") + "/master;loginTimeout=10;socketTimeout=30" + extra;
    return encryption.equals("off") ? url : url + ";ssl=require";
  }

  static Connection connect(String extra) throws Exception {
    return DriverManager.getConnection(
        url(extra), System.getenv("VARROW_TEST_USER"), System.getenv("VARROW_TEST_PASSWORD"));
  }

  static String hex(byte[] bytes) {
    return HexFormat.of().withUpperCase().formatHex(bytes);
  }

  static String single(ResultSet rows) throws Exception {
    expect("a row", true, rows.next());
    return rows.getString(1);
  }

  // Strings go as VARCHAR with sendStringParametersAsUnicode=false, as
  // NVARCHAR (hashing their UTF-16LE bytes) by default.
  static void parameterisedQuery(Connection ignored) throws Exception {
    for (boolean unicode : new boolean[] {false, true}) {
      try (Connection conn = connect(";sendStringParametersAsUnicode=" + unicode);
          PreparedStatement ps = conn.prepareStatement(HASH_THEN_HEX)) {
        byte[] bytes = "abc".getBytes(unicode ? "UTF-16LE" : "US-ASCII");
        String expected = hex(MessageDigest.getInstance("MD5").digest(bytes));
        for (int i = 0; i < 2; ++i) { // the second run reuses the prepared handle
          ps.setString(1, "abc");
          expect("MD5 as hex, unicode=" + unicode, expected, single(ps.executeQuery()));
        }
      }
    }
  }

  static void callWithOutputs(Connection conn) throws Exception {
    try (CallableStatement cs = conn.prepareCall("{? = call xp_hexstr(?, ?)}")) {
      cs.registerOutParameter(1, Types.INTEGER);
      cs.setString(2, "abc");
      cs.registerOutParameter(3, Types.VARCHAR);
      cs.execute();
      expect("hex", "616263", cs.getString(3));
      expect("status", 0, cs.getInt(1));
    }
  }

  // The key bytes as the JDK's AES takes them (raw, unwrapped).
  record RawAesKey(byte[] bytes) implements SecretKey {
    public String getAlgorithm() { return "AES"; }
    public String getFormat() { return "RAW"; }
    public byte[] getEncoded() { return bytes.clone(); }
  }

  static void aesRoundTrip(Connection conn) throws Exception {
    Cipher cipher = Cipher.getInstance("AES/ECB/PKCS5Padding");
    cipher.init(Cipher.ENCRYPT_MODE, new RawAesKey(HexFormat.of().parseHex(KEY_128)));
    String expected = hex(cipher.doFinal(PLAIN.getBytes("US-ASCII")));
    try (PreparedStatement ps = conn.prepareStatement(AES_ROUND_TRIP)) {
      ps.setString(1, PLAIN);
      ps.setString(2, KEY_128);
      ps.setString(3, KEY_128);
      ResultSet rows = ps.executeQuery();
      expect("a row", true, rows.next());
      expect("cipher text", expected, rows.getString(1));
      expect("plain text", PLAIN, rows.getString(2));
    }
  }

  static void failingCall(Connection conn) throws Exception {
    try (CallableStatement cs = conn.prepareCall("{? = call xp_AES_Encrypt(?, ?, ?)}")) {
      cs.registerOutParameter(1, Types.INTEGER);
      cs.setString(2, "x");
      cs.setString(3, "0123");
      cs.registerOutParameter(4, Types.VARCHAR);
      cs.execute();
      expect("status", 1, cs.getInt(1));
      expect("output", null, cs.getString(4));
      SQLWarning warning = cs.getWarnings();
      expect("warning", true, warning != null);
      expect("number", 50005, warning.getErrorCode());
      expect("text", TEXT_50005, warning.getMessage());
    }
    try (Statement st = conn.createStatement()) {
      st.execute("xp_nothing 'x'");
      throw new AssertionError("an unknown procedure must fail");
    } catch (java.sql.SQLException e) {
      expect("unknown procedure", 2812, e.getErrorCode());
    }
  }

  static void plainBatch(Connection conn) throws Exception {
    try (Statement st = conn.createStatement()) {
      expect("SELECT 1", "1", single(st.executeQuery("SELECT 1")));
      expect("hex", "6869", single(st.executeQuery(
          "DECLARE @h VARCHAR(10); EXEC xp_hexstr 'hi', @h OUTPUT; SELECT @h AS h")));
    }
  }

  static void run(String name, Connection conn, Check check) {
    ++checks;
    try {
      check.run(conn);
      System.out.println("ok " + checks + " - " + name);
    } catch (Throwable e) {
      failures.add(name);
      System.out.println("not ok " + checks + " - " + name + ": " + e);
    }
  }

  public static void main(String[] args) throws Exception {
    Class.forName("net.sourceforge.jtds.jdbc.Driver");
    // Connecting runs jTDS's own batch (SELECT @@MAX_PRECISION; SET ...).
    try (Connection conn = connect(";sendStringParametersAsUnicode=false")) {
      run("parameterised query (sp_prepare, sp_execute)", conn, JtdsTest::parameterisedQuery);
      run("call with OUTPUT parameters and status", conn, JtdsTest::callWithOutputs);
      run("AES round trip", conn, JtdsTest::aesRoundTrip);
      run("failing call: 50005 and status 1", conn, JtdsTest::failingCall);
      run("plain batch", conn, JtdsTest::plainBatch);
    }
    System.out.println("1.." + checks);
    System.exit(failures.isEmpty() ? 0 : 1);
  }
}
