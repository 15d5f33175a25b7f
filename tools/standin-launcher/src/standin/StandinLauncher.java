package standin;

import java.awt.BorderLayout;
import java.awt.Font;
import java.awt.GraphicsEnvironment;
import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Properties;
import javax.swing.JFrame;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;

/**
 * Stand-in for the real launcher archive: shows what the bootstrapper handed over, the
 * de.tarvolin.* and com.tarvolin.* system properties and the property file, so a deployment can
 * check its setup before it embeds its own launcher.
 */
public final class StandinLauncher {
    private StandinLauncher() {
    }

    public static void main(String[] args) {
        final String report = buildReport(args);
        if (GraphicsEnvironment.isHeadless()) {
            System.out.print(report);
            System.out.flush();
            return;
        }
        SwingUtilities.invokeLater(new Runnable() {
            public void run() {
                showWindow(report);
            }
        });
    }

    static String buildReport(String[] args) {
        StringBuilder out = new StringBuilder();
        out.append("Stand-in launcher\n\nSystem properties:\n");
        Properties properties = System.getProperties();
        List<String> names = new ArrayList<String>();
        for (String name : properties.stringPropertyNames()) {
            if (name.startsWith("de.tarvolin.") || name.startsWith("com.tarvolin.")) {
                names.add(name);
            }
        }
        Collections.sort(names);
        for (String name : names) {
            out.append(name).append('=').append(properties.getProperty(name)).append('\n');
        }
        out.append("\nArguments: ").append(args.length).append('\n');
        for (int i = 0; i < args.length; i++) {
            out.append("[").append(i).append("] ").append(args[i]).append('\n');
        }
        if (args.length > 0) {
            out.append("\nProperty file ").append(args[0]).append(":\n");
            try {
                out.append(readFile(args[0]));
            } catch (IOException e) {
                out.append("(cannot be read: ").append(e.getMessage()).append(")\n");
            }
        }
        return out.toString();
    }

    private static String readFile(String path) throws IOException {
        InputStream in = new FileInputStream(path);
        try {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[4096];
            int n;
            while ((n = in.read(buffer)) > 0) {
                bytes.write(buffer, 0, n);
            }
            return new String(bytes.toByteArray(), "ISO-8859-1");
        } finally {
            in.close();
        }
    }

    private static void showWindow(String report) {
        JFrame frame = new JFrame("Stand-in launcher");
        JTextArea text = new JTextArea(report, 24, 80);
        text.setEditable(false);
        text.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 12));
        frame.getContentPane().add(new JScrollPane(text), BorderLayout.CENTER);
        frame.setDefaultCloseOperation(WindowConstants.DISPOSE_ON_CLOSE);
        frame.pack();
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
    }
}
