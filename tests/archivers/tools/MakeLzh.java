// Writes LZH archives for the LZH reader's tests with Debian's jlha library, which makes
// methods no other tool here writes (-lh1-, -lzs-, -lz5-). The plan comes as UTF-8 on
// standard input, one line each:
//   archive PATH LEVEL UNIXTIME   starts an archive: every entry gets that header level and time
//   METHOD NAME FILE              adds FILE's bytes as NAME ('/' between folders; FILE "-": a folder)
// Names are written in Shift-JIS, as a Japanese LHA would.
import java.io.BufferedReader;
import java.io.FileOutputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Date;
import java.util.Properties;

import jp.gr.java_conf.dangan.util.lha.LhaHeader;
import jp.gr.java_conf.dangan.util.lha.LhaOutputStream;
import jp.gr.java_conf.dangan.util.lha.LhaProperty;

public class MakeLzh {
    public static void main(String[] args) throws Exception {
        Properties properties = LhaProperty.getProperties();
        properties.setProperty("lha.encoding", "MS932");
        BufferedReader plan = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        LhaOutputStream out = null;
        int level = 0;
        Date time = null;
        for (String line; (line = plan.readLine()) != null;) {
            String[] w = line.trim().split(" ");
            if (w[0].equals("archive")) {
                if (out != null) out.close();
                out = new LhaOutputStream(new FileOutputStream(w[1]), properties);
                level = Integer.parseInt(w[2]);
                time = new Date(Long.parseLong(w[3]) * 1000);
                continue;
            }
            LhaHeader header = new LhaHeader(w[1], time);
            header.setHeaderLevel(level);
            header.setCompressMethod(w[0]);
            out.putNextEntry(header);
            if (!w[2].equals("-")) out.write(Files.readAllBytes(Paths.get(w[2])));
            out.closeEntry();
        }
        if (out != null) out.close();
    }
}
